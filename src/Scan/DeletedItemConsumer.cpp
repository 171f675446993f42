#include "Scan/DeletedItemConsumer.h"

#include "Base/FXPath.h"
#include "CollectFile/FileNameEscaping.h"
#include "CollectFile/FlatCollectFile.h"

CDeletedItemConsumer::CDeletedItemConsumer(std::shared_ptr<CFlatCollectFile> deletedItems, long long jobId)
    : CItemConsumer(jobId), m_deletedItems(std::move(deletedItems))
{
}

CDeletedItemConsumer::~CDeletedItemConsumer() = default;

CKxError CDeletedItemConsumer::Process(const CItemPtr& item)
{
    std::string line = item->IsFolder() ? "??D" : "??d";
    escapeFileNameAppend(FXPath::TrimTrailingSlashes(item->GetSourceFullyQualifiedItemName()), line);
    KX_RETURN_IF_FAILED(m_deletedItems->RawWriteItem(line, 0), "Failed to record deleted item '%s'",
                        item->GetSourceFullyQualifiedItemName().c_str());
    IncrementProcessedItemsCount();
    return CKxError::Success();
}
