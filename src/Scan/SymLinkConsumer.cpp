#include "Scan/SymLinkConsumer.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"
#include "Engine/RawDeviceItem.h"
#include "Scan/ScanJobCallback.h"

CSymLinkConsumer::CSymLinkConsumer(CItemConsumerPtr next, CScanJobCallback& callback, long long jobId)
    : CItemConsumerChain(std::move(next), jobId), m_callback(callback)
{
}

CSymLinkConsumer::~CSymLinkConsumer() = default;

CKxError CSymLinkConsumer::Process(const CItemPtr& item)
{
    // The mode test first: it is one comparison, and most items are not links.
    if (item->IsSymbolicLink() && dynamic_cast<const CFindFirstItem*>(item.get()) &&
        !dynamic_cast<const CRawDeviceItem*>(item.get())) {
        FSLOG(5, "found sym-link '%s'", item->GetSourceFullyQualifiedItemName().c_str());
        KX_RETURN_IF_ERROR(m_callback.OnSymLink(item));
    }
    return CItemConsumerChain::Process(item);
}
