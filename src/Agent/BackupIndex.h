#pragma once
// IBackupIndex: the index service's view of what the backups of one subclient hold. The agent's
// own implementation reads the job files the backup phase leaves (CFileBackupIndex,
// docs/backup-index.md); a real index service answers the same questions from its database.
//
// Thread: one object, one thread; the sink runs on the calling thread.
#include "Base/KxError.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One item a backup holds, as the backup phase saw it when it took the item.
struct SIndexItem {
    static constexpr char kFile = 'f';
    static constexpr char kFolder = 'd';
    static constexpr char kSymbolicLink = 'l';
    static constexpr char kOther = 'o';  // fifo, socket, device

    std::string path;  // decoded; a folder without a trailing '/' ("/" itself stays "/")
    char kind = kFile;
    std::int64_t mtime = 0;  // seconds since the epoch, signed
    std::int64_t ctime = 0;
    std::uint64_t size = 0;  // 0 for folders

    bool operator==(const SIndexItem&) const = default;
};

// An item a job's backup phase could not take.
struct SIndexFailure {
    std::string path;  // decoded
    int error = 0;     // errno

    bool operator==(const SIndexFailure&) const = default;
};

// One backup job the index knows of.
struct SIndexJob {
    long long jobId = 0;
    unsigned int backupType = 0;  // 1 full, 2 incremental, 4 differential
    std::int64_t written = 0;     // when its backup phase finished, seconds since the epoch
};

class IBackupIndex {
public:
    // Receives each item; an error stops the browse and is returned by it (pushed).
    using Sink = std::function<CKxError(const SIndexItem&)>;

    virtual ~IBackupIndex() = default;

    // Every item the last full backup and the jobs after it hold, each once, with the values of
    // the newest job that took it, in directory-change path order (DirChangePathOrder::Compare).
    // Items deleted since, and everything below a folder deleted since, are left out; items a job
    // failed to take are not held by that job. Without any full backup, every job counts.
    [[nodiscard]] virtual CKxError Browse(const Sink& sink) = 0;
    // The items job `jobId` could not take (replaces `failures`); error 1168 when the index does
    // not know the job.
    [[nodiscard]] virtual CKxError GetFailedFiles(long long jobId, std::vector<SIndexFailure>& failures) = 0;
    // The jobs the index knows of, oldest first (replaces `jobs`).
    [[nodiscard]] virtual CKxError Jobs(std::vector<SIndexJob>& jobs) = 0;
};
