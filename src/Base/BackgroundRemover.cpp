#include "Base/BackgroundRemover.h"
#include "Base/FileSystemIdentity.h"

#include "Base/FXPath.h"

#include <cerrno>
#include <climits>
#include <fnmatch.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

CBackgroundRemover& CBackgroundRemover::Instance()
{
    static CBackgroundRemover remover;
    return remover;
}

CBackgroundRemover::~CBackgroundRemover()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

CKxError CBackgroundRemover::Remove(const std::string& path)
{
    // Also keeps a worker started here from inheriting a walk thread's identity.
    CFileSystemIdentity::COwnCredentials own;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return errno == ENOENT ? CKxError::Success() : CKxError::FromErrno(errno, "lstat failed for [" + path + "]");
    const std::string name = FXPath::FileName(path);
    std::string queued;
    if (::fnmatch(kLeftoverPattern, name.c_str(), 0) == 0) {
        queued = path;  // already hidden: an earlier process queued it
    } else if (S_ISREG(status.st_mode) && status.st_size >= kBackgroundBytes) {
        std::lock_guard lock(m_lock);
        const std::string hidden =
            "." + name + ".removing-" + std::to_string(::getpid()) + "-" + std::to_string(++m_renamed);
        if (hidden.size() <= NAME_MAX) {
            const std::string hiddenPath = FXPath::Append(FXPath::Parent(path), hidden);
            if (::rename(path.c_str(), hiddenPath.c_str()) == 0)
                queued = hiddenPath;
        }
    }
    if (queued.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return CKxError::FromErrno(errno, "unlink failed for [" + path + "]");
        return CKxError::Success();
    }
    {
        std::lock_guard lock(m_lock);
        m_queue.push_back(std::move(queued));
        if (!m_worker.joinable())
            m_worker = std::thread([this] { Run(); });
    }
    m_changed.notify_all();
    return CKxError::Success();
}

CKxError CBackgroundRemover::Drain()
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    CKxError failure = std::move(m_firstFailure);
    m_firstFailure = CKxError::Success();
    return failure;
}

void CBackgroundRemover::Run()
{
    // Freeing storage can wait: the job's own threads go first.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty())
            return;
        const std::string path = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        const int failed = ::unlink(path.c_str()) != 0 && errno != ENOENT ? errno : 0;
        lock.lock();
        m_busy = false;
        if (failed != 0 && m_firstFailure.IsSuccess())
            m_firstFailure = CKxError::FromErrno(failed, "unlink failed for [" + path + "]");
        m_changed.notify_all();
    }
}
