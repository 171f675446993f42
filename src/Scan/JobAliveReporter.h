#pragma once
// CJobAliveReporter: the alive report of a running scan job. A thread wakes every `wait`
// (30 seconds) and, once a `period` (1500 seconds) has passed since the period began, tells the
// job manager that the job is alive if the job showed activity since (the callback's liveness
// mark, set whenever the engine polls for an abort) and clears the mark; either way a new
// period begins. A job that did nothing for a whole period is therefore not reported alive, and
// the job manager's own timeout can end it.
//
// The time decisions live in OnWake, which takes the time as an argument, so that they can be
// checked without waiting; the thread only sleeps and calls it.
//
// Thread: Start and Stop from the job's main thread (Stop also from the job's destructor);
// the hooks are called from the reporter's thread.
#include "Base/KxError.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CJobAliveReporter {
public:
    using Clock = std::chrono::steady_clock;

    struct SHooks {
        // Called once when the thread starts; false ends the thread (no job-manager client).
        std::function<bool()> connect;
        std::function<bool()> isAlive;
        std::function<void()> resetAlive;
        std::function<CKxError()> markAlive;
    };

    static constexpr std::chrono::seconds kWait{30};
    static constexpr std::chrono::seconds kPeriod{1500};

    explicit CJobAliveReporter(SHooks hooks, std::chrono::milliseconds wait = kWait,
                               std::chrono::milliseconds period = kPeriod);
    ~CJobAliveReporter();
    CJobAliveReporter(const CJobAliveReporter&) = delete;
    CJobAliveReporter& operator=(const CJobAliveReporter&) = delete;

    // Ends a thread that still runs, then starts a new one.
    void Start();
    // Sets the stop flag, wakes the thread and joins it, without a time limit.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    // Starts a period at `now`.
    void BeginPeriod(Clock::time_point now);
    // One wake-up at `now`: when the period is over, reports if the job was active in it and
    // begins a new period. True when it reported.
    bool OnWake(Clock::time_point now);
    unsigned long GetReportCount() const { return m_reports.load(); }

private:
    void ThreadBody();

    SHooks m_hooks;
    std::chrono::milliseconds m_wait;
    std::chrono::milliseconds m_period;
    Clock::time_point m_periodStart{};
    std::atomic<unsigned long> m_reports{0};

    std::thread m_thread;
    std::mutex m_stopLock;  // guards m_stop; m_wakeUp waits on it
    std::condition_variable m_wakeUp;
    bool m_stop = false;
};
