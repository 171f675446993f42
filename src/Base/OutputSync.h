#pragma once
// COutputSync: puts what a job wrote on disk in one pass at its end.
//
// The backup phase and the next job read the results folders after this process is gone, maybe
// after a crash of the machine. Syncing each file as it is closed would make every writer wait
// for the disk in turn; instead the job syncs once, at the end of clean-up and before the job
// manager hears the outcome: every regular file in the given folders whose status changed since
// the job began (data, then size), then each folder (the names created, renamed or removed in
// it), then each folder's parent while that parent changed too (a folder made by this job).
// Write-back of all the files is started before the first wait, and the waits overlap (a few
// threads), so the disk works on the files together and the file system commits once for many.
//
// "Changed since" compares the file's status-change time with the start of the job, less a
// second for the coarse clock file systems stamp with; if the clock now reads earlier than the
// start (it was set back), every file is synced.
//
// Thread: any; no state. SyncChangedSince runs up to 8 short-lived threads of its own.
#include "Base/KxError.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class COutputSync {
public:
    struct SCounts {
        std::uint64_t files = 0;    // files synced
        std::uint64_t folders = 0;  // folders synced
    };

    // Syncs the files of `folders` (not below them) changed at or after `since`, then the folders,
    // then their parents while a parent changed at or after `since`, up to and without `stopAt`
    // (or up to "/" when empty). A folder that does not exist is skipped. The first failure is
    // returned, naming the path; the pass still syncs everything else.
    [[nodiscard]] static CKxError SyncChangedSince(const std::vector<std::string>& folders, std::time_t since,
                                                   const std::string& stopAt, SCounts* counts = nullptr);
    // Syncs one file's data (fdatasync), or one folder (fsync), by path; no link is followed.
    [[nodiscard]] static CKxError SyncFile(const std::string& path);
    [[nodiscard]] static CKxError SyncFolder(const std::string& path);
};
