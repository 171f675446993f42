#pragma once
// CProcessCommitFiles: feeds the items an interrupted backup phase still owed (the commit
// file the commit-job step copied from the interrupted job, see COwedItemLine for its lines)
// into this job (COwedItemFeeder). Deletion lines of items that are gone become this job's
// deletion lines; an extent entry feeds its file once.
//
// Run: no commit file: "There is no commit file (%s)", success. Logs "Processing commit files
// from '%s'", "Adding '%s'" per item and "Total [%lld] files processed". A line that does not
// parse is logged and skipped (nothing can be made of it); a failure to write the job's own
// files ends the run. The commit file stays: the commit-job step replaces it for the next
// commit job and removes it when a job commits nothing.
//
// Thread: the job's main thread, in the clean-up chain.
#include "Base/KxError.h"

#include <string>

class CScanJobCallback;

class CProcessCommitFiles {
public:
    // What an interrupted backup phase leaves in its job's results folder.
    static constexpr const char* kPendingCommitFile = "CommitPending.zvf";

    // `commitFile`: the subclient's commit collect file; `deletionLines`: the job is not a full.
    CProcessCommitFiles(std::string commitFile, bool deletionLines);

    [[nodiscard]] CKxError Run(CScanJobCallback& callback);

private:
    std::string m_commitFile;
    bool m_deletionLines;
};
