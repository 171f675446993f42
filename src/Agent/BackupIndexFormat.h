#pragma once
// The text of a backup-index job file ("Index/<orbundId>_<appNumber>/<jobId>.idx", written by the
// backup phase, read by CFileBackupIndex). Writer and reader format and parse it here, so they
// agree on every byte (docs/backup-index.md):
//
//   fsweep-index 1 <jobId> <backupType> <unix time written>      the header, first line
//   <kind> <mtime> <ctime> <size> <escaped path>                 an item the job took (f d l o)
//   - <escaped path>                                             a deletion the job carried
//   ! <errno> <escaped path>                                     an item the job could not take
//
// Paths are escaped as collect lines are (escapeFileName) and come last, so they may hold
// blanks. After the header the lines are sorted by decoded path in directory-change path order;
// the lines of one path go deletion, failure, item, and no line appears twice, so that readers
// merge job files line by line.
//
// Thread: pure functions, any thread.
#include "Agent/BackupIndex.h"
#include "Base/KxError.h"

#include <string>
#include <string_view>

namespace BackupIndexFormat {

inline constexpr std::string_view kMagic = "fsweep-index";
inline constexpr int kVersion = 1;
inline constexpr char kDeletion = '-';
inline constexpr char kFailure = '!';

// One line after the header: `item.kind` is an item kind of SIndexItem, kDeletion or kFailure;
// `error` is the errno of a failure line.
struct SLine {
    SIndexItem item;
    int error = 0;
};

// "<jobId>.idx"
std::string JobFileName(long long jobId);
// The job id of a job file name; false for any other name (temporary files included).
bool ParseJobFileName(std::string_view name, long long& jobId);

void AppendHeader(const SIndexJob& job, std::string& out);                    // with its newline
[[nodiscard]] CKxError ParseHeader(std::string_view text, SIndexJob& job);    // without it
void AppendLine(const SLine& line, std::string& out);                         // with its newline
// Error 13 naming what is wrong; the caller adds the file and line number.
[[nodiscard]] CKxError ParseLine(std::string_view text, SLine& line);

// <0, 0, >0: the order of lines in a job file (path order, then deletion, failure, item).
int Compare(const SLine& a, const SLine& b) noexcept;

}  // namespace BackupIndexFormat
