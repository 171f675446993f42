#include "Scan/MaxFileCTimeConsumer.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"
#include "Scan/ScanJobCallback.h"

CMaxFileCTimeConsumer::CMaxFileCTimeConsumer(CItemConsumerPtr next, CScanJobCallback& callback,
                                             std::int64_t scanStartTime, long long jobId)
    : CItemConsumerChain(std::move(next), jobId), m_callback(callback), m_scanStartTime(scanStartTime)
{
}

CMaxFileCTimeConsumer::~CMaxFileCTimeConsumer() = default;

std::mutex& CMaxFileCTimeConsumer::FileCtimeLock()
{
    static std::mutex lock;
    return lock;
}

CKxError CMaxFileCTimeConsumer::Process(const CItemPtr& item)
{
    if (m_callback.IsMaxCtimeTracking() && !item->IsFolder() && dynamic_cast<const CFindFirstItem*>(item.get())) {
        const std::int64_t ctime = item->GetLastChangeTime().Seconds();
        // Most items are older than the maximum: the lock is taken only for a candidate.
        if (ctime < m_scanStartTime && ctime > m_callback.GetMaxFileCtime()) {
            std::lock_guard lock(FileCtimeLock());
            if (ctime > m_callback.GetMaxFileCtime()) {
                m_callback.SetMaxFileCtime(ctime);
                FSLOG(10, "using ctime %lld from '%s' as max time", static_cast<long long>(ctime),
                      item->GetSourceFullyQualifiedItemName().c_str());
            }
        }
    }
    return CItemConsumerChain::Process(item);
}
