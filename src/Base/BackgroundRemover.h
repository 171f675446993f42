#pragma once
// CBackgroundRemover: removes files without making the caller wait for their storage to be freed.
// Unlinking a large file frees its cached pages and its blocks inside the unlink call (about
// 18 ms for a 30 MB collect file), and a job start removes several such files that earlier jobs
// left. Here the name goes at once: the file is renamed to a hidden name in its folder
// (".<name>.removing-<pid>-<n>"), and a worker thread unlinks it while the job goes on. A process
// that dies first leaves hidden names matching kLeftoverPattern; the next job's clean-up removes
// them.
//
// Thread: all members may be called from any thread. The worker is started on first use and
// joined when the process exits, after it has unlinked everything queued.
#include "Base/KxError.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class CBackgroundRemover {
public:
    // Files smaller than this are unlinked in the call: their unlink is as cheap as a rename.
    static constexpr long long kBackgroundBytes = 1LL << 20;
    // Names of files queued by a process that exited before unlinking them.
    static constexpr const char* kLeftoverPattern = ".*.removing-*";

    static CBackgroundRemover& Instance();
    ~CBackgroundRemover();
    CBackgroundRemover(const CBackgroundRemover&) = delete;
    CBackgroundRemover& operator=(const CBackgroundRemover&) = delete;

    // When this returns `path` no longer names the file; a missing file is success. Falls back
    // to unlinking in the call when the file cannot be renamed.
    [[nodiscard]] CKxError Remove(const std::string& path);
    // Waits until every queued file is unlinked; the first unlink that failed since the last
    // call, naming the file.
    [[nodiscard]] CKxError Drain();

private:
    CBackgroundRemover() = default;
    void Run();

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::string> m_queue;
    bool m_busy = false;  // the worker is unlinking a file taken off the queue
    bool m_stopping = false;
    unsigned long m_renamed = 0;
    CKxError m_firstFailure;
    std::thread m_worker;
};
