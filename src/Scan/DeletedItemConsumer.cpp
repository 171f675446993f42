#include "Scan/DeletedItemConsumer.h"

#include "Base/FXPath.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/IncrFlatCollectFile.h"

CDeletedItemConsumer::CDeletedItemConsumer(std::shared_ptr<CIncrFlatCollectFile> deletedItems, long long jobId)
    : CItemConsumer(jobId), m_deletedItems(std::move(deletedItems))
{
}

CDeletedItemConsumer::~CDeletedItemConsumer() = default;

CKxError CDeletedItemConsumer::Process(const CItemPtr& item)
{
    std::string line = item->IsFolder() ? "??D" : "??d";
    escapeFileNameAppend(FXPath::TrimTrailingSlashes(item->GetSourceFullyQualifiedItemName()), line);
    KX_RETURN_IF_FAILED(m_deletedItems->RawWriteDeletedItem(line), "Failed to record deleted item '%s'",
                        item->GetSourceFullyQualifiedItemName().c_str());
    IncrementProcessedItemsCount();
    return CKxError::Success();
}
