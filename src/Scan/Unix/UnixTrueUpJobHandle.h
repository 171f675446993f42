#pragma once
// CUnixTrueUpJobHandle: the true-up of a Unix file-system job (CTrueUpJobHandle says when and
// in what order; docs/true-up.md says why).
//
// InitializeTrueUpJob: qualifies the job from the bag ("SC:TrueUpSkipped", "SC::FileServerTrueUp",
//   "SC:TrueUpEnabled", "SC:idDaysToTrueUp") and the state file. A qualified job gets
//   "SC:TrueUpQualified" (its directory-change record then carries times, size and kind) and
//   "SC:TrueUpMarkAtBackup" (the next phase's arguments carry " -trueup ", so that the backup
//   phase marks the state complete once it succeeded); so does a full, whose scan rewrites the
//   state. The compare options: change time with "JO:CTIME" unless "sPreserveATime" is Y,
//   modification time with "JO:MTIME".
// TrueUpBrowseIndex: streams the backup index's view into "DCTrueUp.zvf" (the record's own
//   format and writer: nothing of the index is held in memory) and saves the state as owing
//   this true-up until the backup phase completes. An index that cannot be browsed leaves the
//   job a plain incremental (logged); the state still owes the true-up to the next job.
// ProcessTrueUpToCollect: compares this job's record with "DCTrueUp.zvf" and acts on each
//   difference (CUnixTrueUpDifferenceCallback); logs "%lld files/folders backed up by TrueUp".
// MarkTrueUpJobComplete: a job that completes in the scan phase marks the state itself.
//
// Errors name the step and the file; the job's clean-up decides what they mean.
#include "Scan/TrueUpCompareOptions.h"
#include "Scan/TrueUpJobHandle.h"

class CUnixTrueUpJobHandle : public CTrueUpJobHandle {
public:
    explicit CUnixTrueUpJobHandle(STrueUpConfig config);
    ~CUnixTrueUpJobHandle() override;

    [[nodiscard]] CKxError InitializeTrueUpJob() override;
    [[nodiscard]] CKxError TrueUpBrowseIndex() override;
    [[nodiscard]] CKxError ProcessTrueUpToCollect() override;
    [[nodiscard]] CKxError MarkTrueUpJobComplete() override;

    // Writes the index view to `path` as a directory-change file of true-up records; `items`
    // counts what the index gave.
    [[nodiscard]] static CKxError GenerateTrueUpDirChange(IBackupIndex& index, const std::string& path,
                                                          std::uint64_t& items);

    std::string GetDirChangePath() const;

private:
    TrueUpStateManager m_stateManager;
    STrueUpState m_state;
    CTrueUpCompareOptions m_options;
    std::uint64_t m_added = 0;
    bool m_browsed = false;  // DCTrueUp.zvf was written by this job
};
