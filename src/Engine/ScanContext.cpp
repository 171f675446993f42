#include "Engine/ScanContext.h"

#include "Base/HotPath.h"
#include "Base/LogWriter.h"
#include "Engine/ScannerCallback.h"
#include "Engine/WorkUnit.h"

CScanContext::CScanContext(long long jobId, CScannerCallback& callback, CScanFailureConsumerPtr failureConsumer,
                           bool followMountPaths, CBagPtr settings)
    : m_jobId(jobId),
      m_callback(callback),
      m_failureConsumer(std::move(failureConsumer)),
      m_followMountPaths(followMountPaths),
      m_settings(std::move(settings))
{
}

KX_HOT_PATH bool CScanContext::PollStop()
{
    if (m_stopped.load(std::memory_order_relaxed))
        return true;
    if (!m_callback.IsAborted())
        return false;
    {
        std::lock_guard lock(m_statusLock);
        if (m_status.IsSuccess() && !m_aborted) {
            m_aborted = true;
            FSLOG(0, "Scan aborted by the job");
        }
    }
    m_stopped.store(true, std::memory_order_relaxed);
    return true;
}

void CScanContext::Stop(const std::string& path, CKxError error)
{
    bool first = false;
    {
        std::lock_guard lock(m_statusLock);
        if (m_status.IsSuccess() && !m_aborted) {
            m_status = error;
            first = true;
        }
    }
    m_stopped.store(true, std::memory_order_relaxed);
    if (first)
        m_callback.OnScannerError(path, error);
}

CKxError CScanContext::GetFinalStatus() const
{
    std::lock_guard lock(m_statusLock);
    if (m_status.IsError())
        return m_status;
    if (m_aborted)
        return CKxError(KxCode::OperationAborted, "Scan aborted");
    return CKxError::Success();
}

CKxError CScanContext::ReportFailure(const CItemPtr& item, int errorNumber)
{
    item->SetErrorNumber(errorNumber);
    FSLOG(3, "Failed to read [%s], errno %d", item->GetLocalFullyQualifiedItemName().c_str(), errorNumber);
    if (!m_failureConsumer)
        return CKxError::Success();
    CKxError e = m_failureConsumer->Process(item);
    if (e.IsError()) {
        e.Push("Failed to record the unreadable item " + item->GetSourceFullyQualifiedItemName());
        Stop(item->GetLocalFullyQualifiedItemName(), e);
    }
    return e;
}

KX_HOT_PATH EConsumerAnswer CScanContext::Deliver(CConsumerOutputHandler& handler, const CItemPtr& item,
                                                  CWorkUnit& unit)
{
    CKxError answer = handler.Process(item);
    const EConsumerAnswer kind = CConsumerAnswer::Classify(answer, *item);
    switch (kind) {
    case EConsumerAnswer::Taken:
        break;
    case EConsumerAnswer::DoNotEnter:
        FSLOG(5, "Not entering [%s]: %s", item->GetLocalFullyQualifiedItemName().c_str(), answer.Message().c_str());
        break;
    case EConsumerAnswer::SourceFailure:
        unit.CountFailure();
        FSLOG(3, "Item [%s] could not be read: %s", item->GetLocalFullyQualifiedItemName().c_str(),
              answer.AsString().c_str());
        (void)ReportFailure(item, item->GetErrorNumber());
        break;
    case EConsumerAnswer::WriteFailure:
        answer.Push("Failed to process " + item->GetSourceFullyQualifiedItemName());
        unit.SetStatus(answer);
        Stop(item->GetLocalFullyQualifiedItemName(), std::move(answer));
        break;
    }
    return kind;
}
