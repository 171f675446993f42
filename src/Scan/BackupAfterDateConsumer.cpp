#include "Scan/BackupAfterDateConsumer.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"

CBackupAfterDateConsumer::CBackupAfterDateConsumer(CItemConsumerPtr next, CTimeStamp date, bool useMTime,
                                                   bool useCTime, long long jobId)
    : CItemConsumerChain(std::move(next), jobId), m_date(date), m_useMTime(useMTime), m_useCTime(useCTime)
{
}

CBackupAfterDateConsumer::~CBackupAfterDateConsumer() = default;

CKxError CBackupAfterDateConsumer::Process(const CItemPtr& item)
{
    if (m_date.Seconds() == 0 || item->isNewInImage() || !dynamic_cast<const CFindFirstItem*>(item.get()))
        return CItemConsumerChain::Process(item);
    if ((m_useMTime && m_date <= item->GetLastWriteTime()) || (m_useCTime && m_date <= item->GetLastChangeTime()))
        return CItemConsumerChain::Process(item);
    FSLOG(5, "skipping '%s' due to date filter", item->GetSourceFullyQualifiedItemName().c_str());
    return CKxError::Success();
}
