#pragma once
// CScanProgress: the live progress of a scan on a terminal. While a pass runs, a thread redraws
// one line on the given stream twice a second:
//
//   fsweep: 125,400 items  1.2 GiB  41,800 items/s  /data
//
// items: entries the work units of the job took so far (every pass); bytes: the data size of
// the collect files (the `bytes` source); items/s: the rate since the job started; the last
// field is the work unit whose count moved last. Stop clears the line; the job's summary line
// (FormatSummary) follows on its own line. The log has the full story either way: the scan
// shows progress only when its standard error is a terminal (ShouldShow).
//
// Thread: Start, SetUnits and Stop from the job's main thread; the sources are called from the
// drawing thread and must be safe there (the work-unit counters and the collect-file sizes are).
#include "Engine/WorkUnit.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CScanProgress {
public:
    using BytesSource = std::function<std::uint64_t()>;

    CScanProgress(FILE* out, BytesSource bytes);
    ~CScanProgress();
    CScanProgress(const CScanProgress&) = delete;
    CScanProgress& operator=(const CScanProgress&) = delete;

    // True when standard error is a terminal.
    static bool ShouldShow();

    // The work units of the pass being walked (items of earlier passes are kept).
    void SetUnits(std::vector<CWorkUnitPtr> units);
    void Start();
    void Stop();

    // "1,234,567"
    static std::string GroupDigits(std::uint64_t value);
    // "0 B", "512 B", "1.5 KiB", "3.2 GiB"
    static std::string HumanBytes(std::uint64_t bytes);
    static std::string FormatLine(std::uint64_t items, std::uint64_t bytes, double seconds, const std::string& unit);
    static std::string FormatSummary(std::uint64_t items, std::uint64_t folders, std::uint64_t bytes,
                                     std::uint64_t failures, double seconds);

private:
    void Draw();
    void ThreadBody();

    FILE* m_out;
    BytesSource m_bytes;
    std::chrono::steady_clock::time_point m_start;

    std::mutex m_unitsLock;  // guards the unit lists, the last counts and m_stop
    std::vector<CWorkUnitPtr> m_units;
    std::vector<std::uint64_t> m_lastCounts;
    std::uint64_t m_itemsOfEarlierPasses = 0;
    std::string m_currentUnit;
    bool m_stop = false;
    std::condition_variable m_wakeUp;
    std::thread m_thread;
};
