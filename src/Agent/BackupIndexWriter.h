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
// Memory stays bounded whatever the number of items: every `linesPerRun` lines (about 150 bytes
// each held) are sorted and spilled to a run file beside the job file (an unpredictable name,
// O_EXCL, mode 0600, never named "*.idx"), and Commit merges the runs with the lines still held.
// Runs are removed by Commit and by the destructor.
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
    static constexpr size_t kLinesPerRun = size_t{1} << 17;

    // `folder`: the subclient's index folder (CFileBackupIndex::SubclientFolder).
    CBackupIndexWriter(std::string folder, long long jobId, unsigned int backupType,
                       size_t linesPerRun = kLinesPerRun);
    ~CBackupIndexWriter();
    CBackupIndexWriter(const CBackupIndexWriter&) = delete;
    CBackupIndexWriter& operator=(const CBackupIndexWriter&) = delete;

    // An item the phase took, with the lstat it made; a folder's trailing '/' is dropped.
    void AddItem(std::string_view path, const struct stat& status);
    // A deletion the phase carried (decoded path).
    void AddDeletion(std::string_view path);
    // An item the phase could not take, with the errno it failed with.
    void AddFailure(std::string_view path, int error);

    // Writes the job file (written at `now`); nothing is left behind on failure, and a failure to
    // spill a run earlier is reported here.
    [[nodiscard]] CKxError Commit(std::time_t now = std::time(nullptr));

    // "<folder>/<jobId>.idx"
    const std::string& Path() const { return m_path; }
    // The lines written, after Commit.
    size_t Lines() const { return m_written; }

private:
    BackupIndexFormat::SLine& Add(std::string_view path, char kind);
    // Sorts the lines held and drops repeats among them.
    void SortHeld();
    // Writes the lines held to a new run file and lets them go.
    CKxError Spill();
    // Writes the header and the merge of the runs and the lines held to `fd` (file `temp`).
    CKxError WriteMerged(int fd, const std::string& temp);
    void RemoveRuns();

    std::string m_folder;
    std::string m_path;
    SIndexJob m_job;
    size_t m_linesPerRun;
    std::vector<BackupIndexFormat::SLine> m_lines;
    std::vector<std::string> m_runs;
    CKxError m_spillError;  // the first failure to spill a run (sticky)
    size_t m_written = 0;
};
