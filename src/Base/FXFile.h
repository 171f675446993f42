#pragma once
// File-system helpers that report failures as CKxError values naming the path and the cause.
#include "Base/KxError.h"

#include <string>
#include <vector>

class FXFile {
public:
    static bool Exists(const std::string& path);          // lstat succeeds
    static bool IsDirectory(const std::string& path);     // stat, follows links
    // mkdir -p; success when the folder already exists.
    static CKxError CreateDirectories(const std::string& path, unsigned mode = 0755);
    // Deletes the entries of `folder` (not below it) whose names match the fnmatch `pattern`.
    // Nothing matching, or a missing folder, is success; `deleted` counts what went. The names are
    // gone on return; large files are freed in the background (CBackgroundRemover).
    static CKxError DeleteMatchingFiles(const std::string& folder, const std::string& pattern,
                                        size_t* deleted = nullptr);
    // Names (not paths) of the entries of `folder` matching `pattern`, sorted.
    static CKxError ListMatchingFiles(const std::string& folder, const std::string& pattern,
                                      std::vector<std::string>& names);
    static CKxError ReadWholeFile(const std::string& path, std::string& content);
    // Whether a rewritten file must be on disk before it replaces the old one. Volatile suits a
    // file that means nothing after a restart of the machine (a running process's check-in):
    // the sync costs milliseconds a job start does not need to wait.
    enum class EDurability { Synced, Volatile };
    // Creates a new file beside `path` for writing (`fd`, the caller closes it) under a name no
    // one can guess beforehand ("<path>.tmp.<pid>.<16 random hex digits>", returned in `temp`):
    // O_EXCL and O_NOFOLLOW, mode 0600, so that nothing planted in the folder is opened instead.
    static CKxError CreateTemporaryBeside(const std::string& path, std::string& temp, int& fd);
    // Writes a file from CreateTemporaryBeside, fsyncs (unless Volatile) and renames it over
    // `path`: a reader sees the old file or the new one, never half of it. The file is mode
    // 0600: the job's files are read by the process that writes them and the backup phase.
    static CKxError WriteFileAtomically(const std::string& path, const std::string& content,
                                        EDurability durability = EDurability::Synced);
    // Writes all `size` bytes to `fd` (retrying short and interrupted writes); an error names `path`.
    static CKxError WriteAll(int fd, const char* data, size_t size, const std::string& path);
    static CKxError Remove(const std::string& path);      // missing is success
    static CKxError Rename(const std::string& from, const std::string& to);
    static CKxError Copy(const std::string& from, const std::string& to);
};
