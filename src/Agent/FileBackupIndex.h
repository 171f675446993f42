#pragma once
// CFileBackupIndex: the agent's own index service, read from the job files the backup phase
// leaves in "<Index folder>/<orbundId>_<appNumber>/<jobId>.idx" (format: BackupIndexFormat.h,
// docs/backup-index.md).
//
// Browse merges the job files from the last full backup (the highest job id whose header says
// backup type 1) on, line by line: each file is sorted in path order, so the merge holds one
// line and one pending deletion per file, never the items. For each path the newest job's item
// line wins; a deletion in a job hides that path and everything below it in the older jobs (the
// same or a newer job may hold items below it again); failure lines hold nothing and hide
// nothing, so the older job's copy of an item that failed stays in the view.
//
// A job file that cannot be read, or whose header or a line is malformed or out of order, is an
// error naming the file and the line: callers never get a partial view as if it were whole. A
// subclient without any job file has an empty view.
//
// Thread: one object, one thread; the files are only read.
#include "Agent/BackupIndex.h"

#include <cstdint>
#include <string>

class CFileBackupIndex : public IBackupIndex {
public:
    // `indexFolder`: the instance's index folder (CInstancePaths::IndexFolder()).
    CFileBackupIndex(const std::string& indexFolder, std::uint64_t orbundId, std::uint64_t appNumber);

    // Where the job files of one subclient lie: "<indexFolder>/<orbundId>_<appNumber>".
    static std::string SubclientFolder(const std::string& indexFolder, std::uint64_t orbundId,
                                       std::uint64_t appNumber);

    [[nodiscard]] CKxError Browse(const Sink& sink) override;
    [[nodiscard]] CKxError GetFailedFiles(long long jobId, std::vector<SIndexFailure>& failures) override;
    [[nodiscard]] CKxError Jobs(std::vector<SIndexJob>& jobs) override;

    const std::string& Folder() const { return m_folder; }

private:
    std::string m_folder;
};
