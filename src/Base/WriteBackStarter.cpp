#include "Base/WriteBackStarter.h"

#include <fcntl.h>

void CWriteBackStarter::Advance(std::uint64_t writtenUpTo)
{
    {
        std::lock_guard lock(m_lock);
        m_written = writtenUpTo;
    }
    if (m_thread.joinable())
        m_wake.notify_one();
    else if (writtenUpTo - m_started >= kStep)
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
    StartUpTo(m_written);
}

void CWriteBackStarter::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_finishing || m_written - m_started >= kStep; });
        if (m_finishing)
            return;  // Finish starts the rest
        const std::uint64_t upTo = m_written;
        lock.unlock();
        StartUpTo(upTo);
        lock.lock();
    }
}

void CWriteBackStarter::StartUpTo(std::uint64_t upTo)
{
    if (upTo <= m_started)
        return;
    (void)::sync_file_range(m_fd, static_cast<off_t>(m_started), static_cast<off_t>(upTo - m_started),
                            SYNC_FILE_RANGE_WRITE);
    m_started = upTo;
}
