#include "Base/OutputSync.h"

#include "Base/FXPath.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
// File systems stamp times from a clock that may lag the one the job read by a tick.
constexpr std::time_t kClockSlack = 1;

CKxError SyncDescriptor(int fd, bool dataOnly, const std::string& path)
{
    int result;
    do {
        result = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return CKxError::FromErrno(errno, "Failed to sync [" + path + "] to disk");
    return CKxError::Success();
}

CKxError SyncPath(const std::string& path, int flags, bool dataOnly)
{
    const int fd = ::open(path.c_str(), flags | O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return CKxError::FromErrno(errno, "Failed to open [" + path + "] to sync it");
    CKxError synced = SyncDescriptor(fd, dataOnly, path);
    ::close(fd);
    return synced;
}

// The status-change time from which a file counts as changed by the job; 0 for every file.
std::time_t Threshold(std::time_t since)
{
    if (std::time(nullptr) < since)
        return 0;  // the clock was set back: the times tell nothing
    return since > kClockSlack ? since - kClockSlack : 0;
}

bool ChangedSince(const struct stat& status, std::time_t since)
{
    return since == 0 || status.st_ctim.tv_sec >= since;
}

struct SOpenFile {
    int fd;
    std::string path;
};

// Opens the changed regular files of `folder` and starts their write-back.
CKxError OpenChangedFiles(const std::string& folder, std::time_t since, std::vector<SOpenFile>& files)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return errno == ENOENT ? CKxError::Success()
                               : CKxError::FromErrno(errno, "Failed to list [" + folder + "] to sync it");
    CKxError firstFailure;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        struct stat status {};
        if (::fstatat(dirFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode) ||
            !ChangedSince(status, since))
            continue;
        const std::string path = FXPath::Append(folder, entry->d_name);
        // O_NONBLOCK: should the name have become a fifo since, the open must not wait for a writer.
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT && firstFailure.IsSuccess())
                firstFailure = CKxError::FromErrno(errno, "Failed to open [" + path + "] to sync it");
            continue;
        }
        (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        files.push_back({fd, path});
    }
    ::closedir(dir);
    return firstFailure;
}

// Syncs and closes every descriptor of `open`, several at once: a file system commits the waits
// that overlap together, where one after the other each would pay its own commit and cache
// flush. Returns how many succeeded; failures go to `keep`.
template <typename Keep>
std::uint64_t SyncConcurrently(std::vector<SOpenFile>& open, bool dataOnly, Keep& keep)
{
    constexpr size_t kMaxThreads = 8;
    std::vector<CKxError> results(open.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < open.size();)
            results[i] = SyncDescriptor(open[i].fd, dataOnly, open[i].path);
    };
    std::vector<std::thread> helpers;
    for (size_t n = 1; n < std::min(open.size(), kMaxThreads); ++n)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    std::uint64_t succeeded = 0;
    for (size_t i = 0; i < open.size(); ++i) {
        ::close(open[i].fd);
        if (results[i].IsSuccess())
            ++succeeded;
        keep(std::move(results[i]));
    }
    return succeeded;
}
}  // namespace

CKxError COutputSync::SyncFile(const std::string& path) { return SyncPath(path, O_NONBLOCK, true); }

CKxError COutputSync::SyncFolder(const std::string& path) { return SyncPath(path, O_DIRECTORY, false); }

CKxError COutputSync::SyncChangedSince(const std::vector<std::string>& folders, std::time_t since,
                                       const std::string& stopAt, SCounts* counts)
{
    since = Threshold(since);
    CKxError firstFailure;
    auto keep = [&firstFailure](CKxError error) {
        if (error.IsError() && firstFailure.IsSuccess())
            firstFailure = std::move(error);
    };
    std::vector<SOpenFile> files;
    for (const std::string& folder : folders)
        keep(OpenChangedFiles(folder, since, files));

    // The folders, then each parent that gained or lost a name during the job.
    std::vector<SOpenFile> folderFds;
    std::set<std::string> seen;
    for (const std::string& folder : folders) {
        struct stat status {};
        if (folder.empty() || ::stat(folder.c_str(), &status) != 0)
            continue;
        for (std::string path = folder; !path.empty() && path != stopAt && seen.insert(path).second;) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                keep(CKxError::FromErrno(errno, "Failed to open [" + path + "] to sync it"));
            else
                folderFds.push_back({fd, path});
            const std::string parent = FXPath::Parent(path);
            if (parent == path || ::stat(parent.c_str(), &status) != 0 || !ChangedSince(status, since))
                break;
            path = parent;
        }
    }

    // Data before names, so that no name reaches the disk ahead of its file's content.
    SCounts done;
    done.files = SyncConcurrently(files, true, keep);
    done.folders = SyncConcurrently(folderFds, false, keep);
    if (counts)
        *counts = done;
    return firstFailure;
}
