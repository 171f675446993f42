#include "Scan/JobAliveReporter.h"

#include "Base/LogWriter.h"

CJobAliveReporter::CJobAliveReporter(SHooks hooks, std::chrono::milliseconds wait, std::chrono::milliseconds period)
    : m_hooks(std::move(hooks)), m_wait(wait), m_period(period)
{
}

CJobAliveReporter::~CJobAliveReporter() { Stop(); }

void CJobAliveReporter::Start()
{
    Stop();
    {
        std::lock_guard lock(m_stopLock);
        m_stop = false;
    }
    m_thread = std::thread([this] { ThreadBody(); });
}

void CJobAliveReporter::Stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_stopLock);
        m_stop = true;
    }
    m_wakeUp.notify_all();
    m_thread.join();
}

void CJobAliveReporter::BeginPeriod(Clock::time_point now) { m_periodStart = now; }

bool CJobAliveReporter::OnWake(Clock::time_point now)
{
    if (now - m_periodStart < m_period)
        return false;
    m_periodStart = now;
    if (!m_hooks.isAlive || !m_hooks.isAlive())
        return false;
    if (m_hooks.markAlive) {
        CKxError marked = m_hooks.markAlive();
        if (marked.IsError())
            FSLOG_ERROR("markJobAlive failed: %s", marked.AsString().c_str());
    }
    if (m_hooks.resetAlive)
        m_hooks.resetAlive();
    m_reports.fetch_add(1);
    return true;
}

void CJobAliveReporter::ThreadBody()
{
    FSLOG(0, "Report alive thread started");
    if (m_hooks.connect && !m_hooks.connect()) {
        FSLOG_ERROR("failed to initialize the backup jobClient object");
        return;
    }
    BeginPeriod(Clock::now());
    std::unique_lock lock(m_stopLock);
    while (!m_stop) {
        m_wakeUp.wait_for(lock, m_wait, [this] { return m_stop; });
        if (m_stop)
            break;
        lock.unlock();
        OnWake(Clock::now());
        lock.lock();
    }
    FSLOG(0, "Report alive thread finished");
}
