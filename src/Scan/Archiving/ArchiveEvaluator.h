#pragma once
// CArchiveEvaluator: the disk-cleanup decision for the files of one volume. It selects files
// whose data may move to secondary storage (to be replaced by stubs) until enough bytes are
// selected to bring the volume's free space up to its high watermark.
//
// A file is selected when, in this order: the bytes still to free are above 0; its path is not
// too long (full name below 1024, folder at most 959 characters); it is not smaller than a block
// (with "SkipSmallerFiles"); no stub filter holds it (the agent's own folders, the settings
// "sSTUB_PRUNE_PATTERNS"/"sSTUB_PRUNE_EXCEPTIONS"); it has all three votes: last access and last
// write at least the rules' days old, in whole days measured from the job's start time (so 30
// days exactly is 30, 29 days 23 hours 59 minutes is 29), and its size within the size rules;
// its extension is one of the rule's; no other open file description holds a conflicting lock
// (unless "SkipLockTest" or native snapshots); no other process has it open or mapped; and it is
// not a stub already (a stub is marked offline and skipped). Every selected file lowers the
// bytes still to free by what stubbing it saves: its allocated bytes less one block, never below
// 0. The lock and the stub are only looked at for files that have the three votes: those need
// the file opened, the votes only its status.
//
// Each decision is reported ("File:[...], Action:[...], Reason:[...]") to the stubbing report
// when there is one ("Tandem::idReportStubbingCandidates": Log_Files/ArchiveJobStatistics.log).
//
// Thread: IsSelected from every worker thread at once: the bytes still to free are atomic, so
// two files selected at the same moment may both count when only one was needed (a little more
// is freed, never less); the rest is read-only after construction.
#include "Base/Bag.h"
#include "Base/TimeStamp.h"
#include "Engine/FilterSet.h"
#include "Engine/ItemEvaluator.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CFindFirstItem;
class CStatsLogWriter;

class CArchiveEvaluator : public CItemEvaluator {
public:

    // `reference`: the job's start time; `bytesToFree` and `blockSize` from the volume's space;
    // `report`: the stubbing report, or null.
    CArchiveEvaluator(const std::string& volume, const CTimeStamp& reference, const CBag& bag, long long bytesToFree,
                      int blockSize, std::shared_ptr<CStatsLogWriter> report);
    ~CArchiveEvaluator() override;

    bool IsSelected(const CItemPtr& item) override;
    virtual void AddToStubbingReport(const std::string& line);

    [[nodiscard]] CKxError InitStubFilters();
    // "log,txt": each piece becomes the case-insensitive pattern "*.<piece>"; an empty list
    // leaves every extension matching.
    [[nodiscard]] CKxError InitExtensionList(const std::string& list);
    bool MatchesExtensions(const CItem& item) const;
    bool IsFiltered(const CItem& item) const;
    long long GetBytesToFree() const { return m_bytesToFree.load(std::memory_order_relaxed); }

protected:
    // Reports the refusal; false.
    bool Refuse(const std::string& path, const std::string& reason);
    // Reports the selection; true.
    bool Select(const std::string& path, const char* reason);
    // The checks that need the file opened: no conflicting lock, not open or mapped elsewhere
    // (refused with `openReason`), not a stub (marked offline). Reports a refusal.
    bool MayBecomeStub(const CItemPtr& item, const CFindFirstItem& file, const char* openReason);

private:

    std::string m_volume;
    CTimeStamp m_reference;
    bool m_backupOnlyArchiveCandidate = false;
    std::uint64_t m_accessedDays = 0;
    std::uint64_t m_modifiedDays = 0;
    std::uint64_t m_minFileSize = 0;
    std::uint64_t m_maxFileSize = 0;
    std::atomic<long long> m_bytesToFree;
    int m_blockSize = 0;
    bool m_skipSmallerFiles = false;
    bool m_skipLockTest = false;
    bool m_useNativeSnap = false;
    bool m_honorRetentionStubPruning = false;
    std::uint32_t m_stubPruningOptions = 0;
    int m_distributedAppType = 0;
    CFilterSet m_stubFilters;
    std::optional<CFilterSet> m_extensions;
    std::shared_ptr<CStatsLogWriter> m_report;
};
