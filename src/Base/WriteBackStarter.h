#pragma once
// CWriteBackStarter: hands a file's final bytes to the disk from a thread of its own.
//
// A writer of large results whose bytes are final as written (nothing rewrites them before the
// job ends) tells the starter how far the file is written; every kStep bytes the starter's
// thread asks the kernel to start writing them out, without waiting. The
// disk then works while the job goes on, the job's final sync finds little left to wait for,
// and the writer does not pay for handing its pages over (block allocation and submission
// cost about as much as writing the bytes did). The thread is made at the first full step: a
// small file costs nothing.
//
// Ownership: the descriptor stays the writer's; Finish (or the destructor) must run before it
// is closed. Thread: Advance and Finish are the writer's, one call at a time (from one thread, or
// under the writer's own lock).
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CWriteBackStarter {
public:
    static constexpr std::uint64_t kStep = std::uint64_t{4} << 20;

    explicit CWriteBackStarter(int fd) : m_fd(fd) {}
    ~CWriteBackStarter() { Finish(); }
    CWriteBackStarter(const CWriteBackStarter&) = delete;
    CWriteBackStarter& operator=(const CWriteBackStarter&) = delete;

    // The file's bytes [0, writtenUpTo) are final.
    void Advance(std::uint64_t writtenUpTo);
    // Starts the write-back of everything written and waits for the thread.
    void Finish();

private:
    void Run();
    // Asks the kernel to start writing [m_started, upTo) without waiting (a hint: errors are
    // ignored), and moves m_started.
    void StartUpTo(std::uint64_t upTo);

    const int m_fd;
    std::mutex m_lock;  // guards m_written and m_finishing
    std::condition_variable m_wake;
    std::uint64_t m_written = 0;
    bool m_finishing = false;
    std::uint64_t m_started = 0;  // the thread's, or the writer's once the thread is joined
    std::thread m_thread;
};
