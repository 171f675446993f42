#pragma once
// CUnixTrueUpDifferenceCallback: what the true-up does with each difference between the backup
// index's view (first: "DCTrueUp.zvf") and this job's record (second), both true-up records:
//   - only in the index: when the item is gone from disk (lstat: ENOENT, ENOTDIR), its deletion
//     line ("??d"/"??D") goes to the deleted-items collect file unless the previous record knows
//     the item (then the ordinary comparison writes it: one line per item). A deleted folder
//     covers what it held: the comparison does not go below it. An item still on disk (a folder
//     above the content, an item the walk could not read or the filters leave out) is left to
//     the ordinary comparison;
//   - only in this job's record, or in both but different (CTrueUpCompareOptions): unless this
//     job selected it already, the item goes through the output handler of its volume as an
//     owed item does (COwedItemFeeder): marked new, so the evaluator takes it whatever its times.
//     Sockets are skipped ("Skipping socket file [%s]"); an item gone meanwhile is skipped;
//   - records this walk did not write (no kind: entries carried over from the previous record
//     for folders the walk could not read) are left alone.
// Counts: items added (Added) and deletion lines written (Deleted).
//
// Ownership: made per comparison by CUnixTrueUpJobHandle. Thread: the job's main thread, one
// call at a time.
#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"
#include "Scan/Dirchange/TrueUpItemInfo.h"
#include "Scan/OwedItemFeeder.h"
#include "Scan/TrueUpCompareOptions.h"

#include <cstdint>

class CScanJobCallback;

class CUnixTrueUpDifferenceCallback : public CPathCacheFlatFileIndexCompareCallback {
public:
    CUnixTrueUpDifferenceCallback(CScanJobCallback& callback, CTrueUpCompareOptions options);
    ~CUnixTrueUpDifferenceCallback() override;

    [[nodiscard]] CKxError OnInIndex1(const std::string& path, bool isFile, const FVBasePtr& indexed) override;
    [[nodiscard]] CKxError OnInIndex2(const std::string& path, bool isFile, const FVBasePtr& disk) override;
    [[nodiscard]] CKxError OnInBothIndexes(const std::string& path, bool isFile, const FVBasePtr& indexed,
                                           const FVBasePtr& disk) override;

    std::uint64_t Added() const { return m_feeder.Fed(); }
    std::uint64_t Deleted() const { return m_deleted; }
    // New folders added (the Part's count of new folders).
    std::uint64_t NewFolders() const { return m_newFolders; }

private:
    // `info`: this job's record of the item, not selected.
    [[nodiscard]] CKxError Take(const std::string& path, bool isFile, const CTrueUpItemInfo& info, bool isNew);

    COwedItemFeeder m_feeder;
    CTrueUpCompareOptions m_options;
    std::uint64_t m_deleted = 0;
    std::uint64_t m_newFolders = 0;
};
