#pragma once
// CBackupPhase: what the backup phase does with a scan's results folder, short of copying data:
// read every collect file of the backup type back, check that each listed item can still be
// opened, and afterwards put the scan's directory-change record in place for the next job.
//
// Reading:
//   - the collect files, hard-link collect files and split map must match the whole-file
//     evidence the scan left ("CollectEvidenceTot.zvf"/"CollectEvidenceInc.zvf",
//     CCollectEvidence): a file cut short, missing or unknown to it fails the phase before any
//     line is read;
//   - the split map ("split_config") is read when present; every collect number it names must
//     have its collect file, else the phase fails (a stream would have nothing to read). Its
//     lines are "N", "N first last" (N cut into N and first..last) or "a,b,c" (the groups the
//     hard-link merge writes);
//   - every collect file of the backup type ("CollectTot*.zvf" or "CollectInc*.zvf") and every
//     hard-link collect file ("HCollectTot*.zvf"/"HCollectInc*.zvf") is read line by line;
//   - a hard-link line ("# <inode> <device> <ctime> <size> <path>", HCollectFile) is an item
//     like any other, but the data of one file (device, inode) counts once however many names
//     it has, and all its names must be in one collect file (else the phase fails: a restore
//     could not link them);
//   - each item line is decoded (the exact inverse of escapeFileName) and the item is looked
//     at with lstat: a regular file is opened O_RDONLY|O_NOFOLLOW|O_NONBLOCK, a folder
//     O_DIRECTORY; links, fifos, sockets and devices need nothing beyond lstat. Deletion lines
//     ("??d", "??D") and the other special lines ("??", "%", "#") are counted, not checked;
//   - a subclient files line ("%SCFILES%<escaped path>", the scan's own results-folder files)
//     is looked at with lstat and counted apart from the items;
//   - the extent and container lines of files backed up by extents are gathered over all the
//     collect files, and each file's extents must cover it exactly (CExtentCheck), else the
//     phase fails naming the file (not checked after a stop: the rest is owed).
// The phase succeeds when every collect file was read to its end and every item line decoded.
// An item that cannot be opened is reported and counted as unreadable but does not fail the
// phase: an item that vanished (or changed kind) since the scan is the ordinary course of a
// live file system, and one the backup user may not read is the backup phase's failure list,
// not a broken scan.
//
// What it leaves for the next scan (SetOwedLists):
//   - the failed-file list: one "<escaped path>:<errno>" line per item that could not be opened
//     (vanished items are not owed: there is nothing left to back up), including the items a
//     fail pattern names, which fail with EIO as if unreadable;
//   - with a stop count, the phase takes that many files (items that are not folders) and stops
//     as an interrupted phase does: every line after the last file taken, from that collect
//     file and the ones after it, is owed and goes to the commit file, item lines without their
//     size, special lines (deletions, extents, hard links) as they are.
//
// What the backup holds (SetIndex): one index line per item taken, with the values of its lstat
// (hard-link names and each file backed up by extents, by its container line, included), one
// per deletion carried, one failure line per item that could not be taken; after a stop only
// what was taken before it.
//
// Thread: one object, one thread.
#include "Agent/BackupIndexWriter.h"
#include "Base/KxError.h"
#include "CollectFile/OwedListWriter.h"
#include "Tools/fsbackup/ExtentCheck.h"
#include "Tools/fsbackup/StreamLoad.h"

#include <cstdint>
#include <memory>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

class CFileNameFactory;

struct SItemFailure {
    std::string path;  // decoded
    int error = 0;     // errno
    bool vanished = false;
};

struct SBackupPhaseSummary {
    std::uint64_t collectFiles = 0;
    std::uint64_t splitMapLines = 0;
    std::uint64_t items = 0;    // item lines, folders included
    std::uint64_t folders = 0;
    std::uint64_t bytes = 0;    // sizes of the regular files opened
    std::uint64_t deletions = 0;
    std::uint64_t specialLines = 0;
    std::uint64_t unreadable = 0;  // items that could not be opened, vanished ones included
    std::uint64_t vanished = 0;
    std::uint64_t owedLines = 0;  // lines left for the commit file after the stop
    std::uint64_t hardLinkNames = 0;  // names read from hard-link lines (items too)
    std::uint64_t hardLinkFiles = 0;  // distinct files among them: their data counts once
    std::uint64_t subclientFiles = 0;         // "%SCFILES%" lines: the scan's own files, not items
    std::uint64_t subclientFilesMissing = 0;  // of them, gone since the scan
    std::vector<CStreamLoad::SFile> perFile;  // items and bytes of each collect file read
    bool interrupted = false;
    std::vector<SItemFailure> failures;  // the first kMaxListedFailures of them
};

class CBackupPhase {
public:
    static constexpr size_t kMaxListedFailures = 1000;

    CBackupPhase(std::string resultsFolder, unsigned int backupType);

    // Turns on the lists (without this call nothing is written): the failed-file list of the
    // results folder, and, with `stopAfter`, the commit file `commitFile`. `failPattern`
    // (fnmatch, '/' not special; empty: none) names items that fail as unreadable.
    void SetOwedLists(std::string failPattern, std::optional<std::uint64_t> stopAfter, std::string commitFile);
    [[nodiscard]] CKxError CommitOwedLists();
    // Turns on the index lines of what the phase takes (without this call none are kept).
    void SetIndex(std::unique_ptr<CBackupIndexWriter> index) { m_index = std::move(index); }
    // Writes the job's index file (nothing without SetIndex).
    [[nodiscard]] CKxError CommitIndex();
    const CBackupIndexWriter* Index() const { return m_index.get(); }
    // After a phase that took every item and put the record in place: deletes the failed-file
    // list the scan fed back ("<list>.inprogress") and syncs the folder.
    [[nodiscard]] CKxError ReleaseFedBackList();

    // Reads the split map and every collect file; an error means the phase failed. The summary
    // holds what was read either way.
    [[nodiscard]] CKxError ReadCollectFiles();
    // Renames the scan's temporary directory-change record to the one the next job reads ("Tot"
    // for a full, which is also copied to the "Inc" name; "Inc" otherwise), the same for the
    // database record ("DirChangePending.db" to "DirChangeFull.db" and its copy
    // "DirChangeIncremental.db"), and syncs the results folder so that the new names are on
    // disk. `moved` receives one "from -> to" text per file moved.
    [[nodiscard]] CKxError PutDirChangeInPlace(std::vector<std::string>& moved);
    // One record kind of PutDirChangeInPlace, with `names`' file names.
    [[nodiscard]] CKxError PutRecordInPlace(const CFileNameFactory& names, std::vector<std::string>& moved);

    // Reads the split map into the collect numbers it names (none without a map). A malformed
    // line fails with 13, a number without its collect file with 1168 (naming the file).
    [[nodiscard]] CKxError ReadSplitMap(std::set<int>& numbers);

    const SBackupPhaseSummary& Summary() const { return m_summary; }
    const CExtentCheck& Extents() const { return m_extents; }

private:
    CKxError ReadCollectFile(const std::string& path);
    // `countData`: whether a regular file's size is added to the bytes read. 0 when the item was
    // taken (`status` is its lstat), else the errno it failed with (counted and listed).
    int CheckItem(const std::string& path, bool isFolderLine, bool countData, struct stat& status);
    // CheckItem, and the item's index line: held, or a failure.
    void TakeItem(const std::string& path, bool isFolderLine, bool countData = true);
    // A hard-link line of collect file `name`; a malformed one or a file whose names are split
    // over two collect files is an error.
    CKxError ReadHardLinkLine(const std::string& raw, const std::string& name);
    void AddFailure(const std::string& path, int error, bool vanished);
    // After the stop: the line as the commit file keeps it.
    CKxError Owe(const std::string& rawLine, bool isItemLine);

    std::string m_resultsFolder;
    unsigned int m_backupType;
    SBackupPhaseSummary m_summary;
    CExtentCheck m_extents;
    std::string m_failPattern;
    std::optional<std::uint64_t> m_stopAfter;
    std::uint64_t m_filesTaken = 0;
    std::unique_ptr<COwedListWriter> m_failedList;
    std::unique_ptr<COwedListWriter> m_commitFile;
    std::unique_ptr<CBackupIndexWriter> m_index;
    CKxError m_failedListError;  // the first failure to write the failed-file list (sticky)
    // (device, inode) of each hard-linked file met -> the collect file that holds its names.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> m_hardLinkFiles;
};
