#pragma once
// CLongPathConsumer: diverts items whose local path is too long for the ordinary walk: a
// folder of at least 960 characters, or any other item of more than 1024. A long item is not
// passed on; it is answered with ENAMETOOLONG, which tells the engine not to enter it, and
//   - with long-path processing on, queued on the callback (OnLongPath) for a pass of its own;
//   - otherwise reported with an operator event (ReportLongPathName).
// Items of a work unit that is itself such a pass ("LongPath:Scan" in its bag) always pass:
// that walk has no length limit, and diverting them again would never end.
//
// Ownership: one per chain; the callback outlives it. Thread: the enabled flag is atomic; the
// event counter is process-wide under its own lock.
#include "Engine/ItemConsumerChain.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

class CScanJobCallback;

class CLongPathConsumer : public CItemConsumerChain {
public:
    static constexpr size_t kMaxFolderPath = 959;  // a folder path this long or shorter passes
    static constexpr size_t kMaxFilePath = 1024;   // any other item's path this long or shorter passes
    static constexpr std::uint32_t kEventLongPath = 0x11000014;
    static constexpr unsigned kMaxLongPathEvents = 9;

    CLongPathConsumer(CItemConsumerPtr next, CScanJobCallback& callback, bool processLongPaths, std::string volume,
                      long long jobId = 0);
    ~CLongPathConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    void SetProcessLongPath(bool enabled) { m_enabled.store(enabled, std::memory_order_relaxed); }

    static bool IsLongPath(const CItem& item);
    // Raises the long-path event for the first nine long paths of the process; later ones are
    // only logged.
    static void ReportLongPathName(const std::string& path);
    // The first and last characters of `path` around "..........": keeps an event readable.
    static std::string CompressPathString(const std::string& path, size_t maxLength, size_t shortLength);
    // Forgets the events already raised (a new job in the same process; tests).
    static void ResetReportedLongPaths();

private:
    CScanJobCallback& m_callback;
    bool m_processLongPaths;
    std::string m_volume;
    std::atomic<bool> m_enabled{true};
};
