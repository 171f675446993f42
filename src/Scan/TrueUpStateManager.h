#pragma once
// TrueUpStateManager: the true-up state of a subclient, "TrueupState.zvf" in its results
// folder: when the last true-up (or full) completed, and whether one is still owed.
//
// File: one "<key> <value>" line each, numbers in decimal:
//   jobId                the last job that ran a true-up or a full scan
//   lastSuccessfulJobId  the last of those whose backup phase completed
//   jobType              that job's backup type (1 full, 2 incremental)
//   refTime              Unix seconds at which the last true-up or full completed (0: never)
//   laptop               1 for a laptop client
//   queryIndexSet        1 while a true-up ran in a scan whose backup phase has not completed:
//                        the next incremental runs one again
//   dcReadyForScan       1 asks the next incremental for a true-up whatever the time
// Unknown keys are skipped (a newer agent may add some); a value that is not a number is an
// error naming the file and the line. The file is written whole under a temporary name, synced
// and renamed into place (mode 0600), so a reader sees the old state or the new one.
//
// Who writes it: the scan of a true-up job (queryIndexSet 1) and of a full (the backup phase
// then marks it complete); the backup phase that follows either (fsbackup) or the scan of a job
// that completes in the scan phase marks it complete (MarkComplete).
//
// Thread: values and files only; one writer at a time per subclient (the job).
#include "Base/KxError.h"

#include <cstdint>
#include <string>

struct STrueUpState {
    long long jobId = 0;
    long long lastSuccessfulJobId = 0;
    unsigned jobType = 0;
    long long refTime = 0;
    bool laptop = false;
    bool queryIndexSet = false;
    bool dcReadyForScan = false;
};

class TrueUpStateManager {
public:
    static constexpr const char* kFileName = "TrueupState.zvf";

    explicit TrueUpStateManager(std::string resultsFolder);

    const std::string& GetPath() const { return m_path; }

    // `found` false (and `state` default) when there is no state file yet.
    [[nodiscard]] CKxError LoadStateFromDoc(STrueUpState& state, bool& found) const;
    [[nodiscard]] CKxError SaveStatetoDoc(const STrueUpState& state) const;
    // The true-up (or full) of job `jobId` completed at `now`: reference time now, nothing owed.
    [[nodiscard]] CKxError MarkComplete(long long jobId, long long now) const;

    // The file's text of `state`, and back (tests and the two functions above).
    static std::string Format(const STrueUpState& state);
    [[nodiscard]] static CKxError Parse(const std::string& text, const std::string& origin, STrueUpState& state);

private:
    std::string m_path;
};
