#include "Agent/XHSMLowLevelCtx.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {
constexpr long kLowLevelObjectFailed = 0x65B;

// Calls `visit(entryPath)` for each entry of /proc/<pid>/<kind> of every process but this one;
// stops early when `visit` answers true.
template <typename Visit>
bool AnyProcessEntry(const char* kind, Visit visit)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    const std::string self = std::to_string(::getpid());
    bool found = false;
    while (!found) {
        const dirent* process = ::readdir(proc);
        if (!process)
            break;
        if (process->d_name[0] < '1' || process->d_name[0] > '9' || self == process->d_name)
            continue;
        const std::string folder = std::string("/proc/") + process->d_name + "/" + kind;
        DIR* entries = ::opendir(folder.c_str());
        if (!entries)
            continue;  // gone, or not ours to inspect
        while (const dirent* entry = ::readdir(entries)) {
            if (entry->d_name[0] == '.')
                continue;
            if (visit(folder + "/" + entry->d_name)) {
                found = true;
                break;
            }
        }
        ::closedir(entries);
    }
    ::closedir(proc);
    return found;
}
}  // namespace

CXHSMLowLevelCtx::~CXHSMLowLevelCtx() { ::close(m_fd); }

CKxError CXHSMLowLevelCtx::getByFileName(const std::string& path, const struct stat& expected,
                                         std::unique_ptr<CXHSMLowLevelCtx>& context)
{
    context.reset();
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.c_str(), kFlags | O_NOATIME);
    if (fd < 0 && errno == EPERM)  // O_NOATIME is for the owner (and root) only; nothing is read
        fd = ::open(path.c_str(), kFlags);
    if (fd < 0)
        return CKxError::FromErrno(errno, "Failed to create low level object for [" + path + "]");
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_dev != expected.st_dev || status.st_ino != expected.st_ino ||
        !S_ISREG(status.st_mode)) {
        ::close(fd);
        return CKxError(kLowLevelObjectFailed, "Failed to create low level object: [" + path + "] changed during the scan");
    }
    context.reset(new CXHSMLowLevelCtx(fd, status));
    return CKxError::Success();
}

CKxError CXHSMLowLevelCtx::IsStub(bool& isStub) const
{
    isStub = false;
    if (::fgetxattr(m_fd, kStubAttribute, nullptr, 0) >= 0) {
        isStub = true;
        return CKxError::Success();
    }
    if (errno == ENODATA || errno == ENOTSUP)
        return CKxError::Success();
    return CKxError::FromErrno(errno, "Failed to read the stub attribute");
}

CKxError CXHSMLowLevelCtx::GetStubInfo(bool& isStub, int& state) const
{
    state = kStateIdle;
    KX_RETURN_IF_ERROR(IsStub(isStub));
    if (IsOpenOrMappedElsewhere())
        state = kStateOpenOrMapped;
    return CKxError::Success();
}

bool CXHSMLowLevelCtx::IsOpenOrMappedElsewhere() const
{
    const auto same = [this](const std::string& entry) {
        struct stat target {};
        return ::stat(entry.c_str(), &target) == 0 && target.st_dev == m_status.st_dev &&
               target.st_ino == m_status.st_ino;
    };
    return AnyProcessEntry("fd", same) || AnyProcessEntry("map_files", same);
}

int CXHSMLowLevelCtx::MandatoryLockTest() const
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (::fcntl(m_fd, F_OFD_GETLK, &lock) != 0)
        return -1;
    return lock.l_type == F_UNLCK ? 0 : 1;
}

bool CXHSMLowLevelCtx::IsSparseFileStub(const struct stat& status)
{
    return S_ISREG(status.st_mode) && status.st_size > 0 && status.st_blocks == 0;
}
