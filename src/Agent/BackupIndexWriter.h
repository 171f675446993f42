#pragma once
// CBackupIndexWriter: the backup phase's record of what one job took, for the index service
// (CFileBackupIndex reads it; format in BackupIndexFormat.h).
//
// The phase adds lines in the order it reads its collect files; Commit sorts them into path
// order, drops repeats (an ancestor folder listed by two collect files is one item), and writes
// "<subclient folder>/<jobId>.idx" so that a reader finds the whole file or none: a new file
// under an unpredictable name beside it (O_EXCL, O_NOFOLLOW, mode 0600), data synced, renamed,
// folder synced. Missing folders are made 0700.
//
// The lines are held until Commit (the phase's items, about 100 bytes each); the job files are
// what readers merge without holding.
//
// Thread: one object, one thread.
#include "Agent/BackupIndexFormat.h"
#include "Base/KxError.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

class CBackupIndexWriter {
public:
    // `folder`: the subclient's index folder (CFileBackupIndex::SubclientFolder).
    CBackupIndexWriter(std::string folder, long long jobId, unsigned int backupType);

    // An item the phase took, with the lstat it made; a folder's trailing '/' is dropped.
    void AddItem(std::string_view path, const struct stat& status);
    // A deletion the phase carried (decoded path).
    void AddDeletion(std::string_view path);
    // An item the phase could not take, with the errno it failed with.
    void AddFailure(std::string_view path, int error);

    // Writes the job file (written at `now`); nothing is left behind on failure.
    [[nodiscard]] CKxError Commit(std::time_t now = std::time(nullptr));

    // "<folder>/<jobId>.idx"
    const std::string& Path() const { return m_path; }
    size_t Lines() const { return m_lines.size(); }

private:
    BackupIndexFormat::SLine& Add(std::string_view path, char kind);

    std::string m_folder;
    std::string m_path;
    SIndexJob m_job;
    std::vector<BackupIndexFormat::SLine> m_lines;
};
