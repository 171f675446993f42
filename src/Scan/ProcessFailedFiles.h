#pragma once
// CProcessFailedFiles: feeds the items the last backup phases could not read back into this
// job (COwedItemFeeder), so that they are retried although nothing about them changed.
//
// The list ("Failures.zvf", the naming object's FailedItemsCollect) is never deleted here: the
// scan renames it to "<list>.inprogress" before it feeds it, and the backup phase deletes that
// file once it has taken every item. A failed backup phase thus leaves "<list>.inprogress"
// behind; when the next scan finds it together with a newer "Failures.zvf", the newer list is
// appended to it (a new file, synced, renamed over it) and fed with it, so that both stay owed
// until a backup phase succeeds. Each item is fed once per run, whichever list names it.
//
// Run: "nSkipFailedFiles" (FileSystemAgent) non-zero skips the list and leaves it as it is.
// No list: "There is no failed file list (%s)". A line that cannot be read or fed is logged
// ("Failed to process failed file entry [%s], error=%s") and the next one read; only a failure
// to write the job's own files ends the run. Logs "Processed [%llu] failed files from %s".
//
// Thread: the job's main thread, in the clean-up chain.
#include "Base/KxError.h"

#include <string>

class CScanJobCallback;

class CProcessFailedFiles {
public:
    static constexpr const char* kInProgressSuffix = ".inprogress";

    // `list`: the failed-file list; `deletionLines`: the job is not a full.
    CProcessFailedFiles(std::string list, bool deletionLines);

    [[nodiscard]] CKxError Run(CScanJobCallback& callback);

private:
    // Leaves one list to feed, "<list>.inprogress", on disk; `any` false when there is none.
    [[nodiscard]] CKxError TakeList(const std::string& inProgress, bool& any);

    std::string m_list;
    bool m_deletionLines;
};
