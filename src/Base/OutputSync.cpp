#include "Base/OutputSync.h"

#include "Base/FXPath.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
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
}  // namespace

CKxError COutputSync::SyncFile(const std::string& path) { return SyncPath(path, O_NONBLOCK, true); }

CKxError COutputSync::SyncFolder(const std::string& path) { return SyncPath(path, O_DIRECTORY, false); }

CKxError COutputSync::SyncChangedSince(const std::vector<std::string>& folders, std::time_t since,
                                       const std::string& stopAt, SCounts* counts)
{
    if (std::time(nullptr) < since)
        since = 0;  // the clock was set back: the times tell nothing
    else if (since > kClockSlack)
        since -= kClockSlack;

    CKxError firstFailure;
    auto keep = [&firstFailure](CKxError error) {
        if (error.IsError() && firstFailure.IsSuccess())
            firstFailure = std::move(error);
    };
    SCounts done;
    std::vector<SOpenFile> files;
    for (const std::string& folder : folders)
        keep(OpenChangedFiles(folder, since, files));
    for (SOpenFile& file : files) {
        CKxError synced = SyncDescriptor(file.fd, true, file.path);
        ::close(file.fd);
        if (synced.IsSuccess())
            ++done.files;
        keep(std::move(synced));
    }

    std::set<std::string> synced;
    for (const std::string& folder : folders) {
        struct stat status {};
        if (folder.empty() || ::stat(folder.c_str(), &status) != 0)
            continue;
        // The folder itself, then each parent that gained or lost a name during the job.
        for (std::string path = folder; !path.empty() && path != stopAt && synced.insert(path).second;) {
            CKxError result = SyncFolder(path);
            if (result.IsSuccess())
                ++done.folders;
            keep(std::move(result));
            const std::string parent = FXPath::Parent(path);
            if (parent == path || ::stat(parent.c_str(), &status) != 0 || !ChangedSince(status, since))
                break;
            path = parent;
        }
    }
    if (counts)
        *counts = done;
    return firstFailure;
}
