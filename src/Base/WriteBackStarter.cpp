#include "Base/WriteBackStarter.h"

#include "Base/OutputSync.h"

void CWriteBackStarter::Advance(std::uint64_t writtenUpTo)
{
    {
        std::lock_guard lock(m_lock);
        m_written = writtenUpTo;
    }
    if (m_thread.joinable())
        m_wake.notify_one();
    else if (writtenUpTo - m_started >= COutputSync::kWriteBackStep)
        m_thread = std::thread([this] { Run(); });
}

void CWriteBackStarter::Finish()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_lock);
            m_finishing = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    COutputSync::StartWriteBack(m_fd, m_started, m_written, true);
}

void CWriteBackStarter::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_finishing || m_written - m_started >= COutputSync::kWriteBackStep; });
        if (m_finishing)
            return;  // Finish starts the rest
        const std::uint64_t upTo = m_written;
        lock.unlock();
        COutputSync::StartWriteBack(m_fd, m_started, upTo, true);
        lock.lock();
    }
}
