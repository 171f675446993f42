#pragma once
// SDirChangeComparison: what the comparison of a job's directory-change record with the
// previous one knows of the job, the same for the text record (CPostProcessDirChange) and the
// database record (CPostProcessSQLiteDirChange). Made by the callback
// (CScanJobCallback::DirChangeComparison).
#include <string>

struct SDirChangeComparison {
    static constexpr unsigned long kFullBackup = 1;
    static constexpr unsigned long kDifferentialBackup = 4;

    unsigned long backupType = kFullBackup;
    long long jobId = 0;
    std::string previousPath;   // the previous job's record
    std::string referencePath;  // the record the job was evaluated against (a differential: the last full's)
    std::string failuresPath;   // this job's failure list
    bool deletedItemDetection = false;

    bool IsFull() const { return backupType == kFullBackup; }
    // A full backup without deleted-item detection compares nothing.
    bool Compares() const { return !IsFull() || deletedItemDetection; }
    // A differential whose reference is not the previous job's record finds its deleted items
    // against the previous record, in a pass of its own.
    bool SeparateDeletedPass() const
    {
        return deletedItemDetection && backupType == kDifferentialBackup && referencePath != previousPath;
    }
};
