#include "Journal/FolderHandleResolver.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

CFolderHandleResolver::CFolderHandleResolver()
{
    if (const char* hook = std::getenv("FSJOURNALD_TEST_RESOLVE_ERRNO"))
        m_testErrno = std::atoi(hook);
}

CFolderHandleResolver::~CFolderHandleResolver()
{
    for (auto& [fsid, fds] : m_mounts)
        for (int fd : fds)
            ::close(fd);
}

void CFolderHandleResolver::AddMount(uint64_t fsid, int mountFd) { m_mounts[fsid].push_back(mountFd); }

void CFolderHandleResolver::Key(uint64_t fsid, const struct file_handle& handle, std::string& key)
{
    key.assign(reinterpret_cast<const char*>(&fsid), sizeof fsid);
    key.append(reinterpret_cast<const char*>(&handle.handle_type), sizeof handle.handle_type);
    key.append(reinterpret_cast<const char*>(handle.f_handle), handle.handle_bytes);
}

int CFolderHandleResolver::Open(uint64_t fsid, const struct file_handle& handle) const
{
    const auto mounts = m_mounts.find(fsid);
    if (mounts == m_mounts.end()) {
        errno = ENODEV;
        return -1;
    }
    int fd = -1;
    // The kernel answers ENOMEM, although memory is plenty, for an inode it is still freeing (a
    // file or folder just removed): its in-memory inode cannot be had, and the handle turns
    // ESTALE once freeing is done. Two more tries; then, with memory to spare, the inode is taken
    // as gone, as ESTALE would say. Under real memory pressure the journals are given up instead.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            ::usleep(2000);
        for (int mountFd : mounts->second) {
            fd = ::open_by_handle_at(mountFd, const_cast<struct file_handle*>(&handle), O_PATH | O_CLOEXEC);
            if (fd >= 0 || errno == ESTALE || errno == ENOENT)
                return fd;
        }
        if (errno != ENOMEM)
            return fd;
    }
    struct sysinfo memory {};
    if (::sysinfo(&memory) == 0 && static_cast<uint64_t>(memory.freeram) * memory.mem_unit >= (64u << 20))
        errno = ESTALE;
    else
        errno = ENOMEM;
    return fd;
}

CFolderHandleResolver::EResult CFolderHandleResolver::Resolve(uint64_t fsid, const struct file_handle& handle,
                                                              std::string_view& path, int& error)
{
    Key(fsid, handle, m_key);
    if (const auto hit = m_byHandle.find(m_key); hit != m_byHandle.end()) {
        path = hit->second;
        return EResolved;
    }
    if (m_testErrno != 0) {
        error = m_testErrno;
        return EFailed;
    }
    const int fd = Open(fsid, handle);
    if (fd < 0) {
        error = errno;
        return error == ESTALE || error == ENOENT ? EGone : EFailed;
    }
    struct stat st {};
    char link[40];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string resolved(4096, '\0');
    ssize_t n = ::fstat(fd, &st) == 0 ? ::readlink(link, resolved.data(), resolved.size()) : -1;
    error = errno;
    ::close(fd);
    if (n < 0)
        return EFailed;
    if (st.st_nlink == 0 || static_cast<size_t>(n) >= resolved.size() || resolved[0] != '/')
        return EGone;  // removed while still open elsewhere, or not reachable from our root
    resolved.resize(static_cast<size_t>(n));
    if (m_byHandle.size() >= kMaxEntries)
        ForgetAll();
    if (const auto [slot, added] = m_byPath.try_emplace(resolved, m_key); !added) {
        m_byHandle.erase(slot->second);  // an older folder that had this path is gone
        slot->second = m_key;
    }
    const auto [it, inserted] = m_byHandle.emplace(m_key, std::move(resolved));
    path = it->second;
    return EResolved;
}

void CFolderHandleResolver::ForgetBelow(std::string_view path)
{
    // Every entry beginning with `path` lies in one run of the byte-ordered map; of those, the
    // path itself and what continues with '/' are at or below it ("/a/b", not "/a/bc").
    for (auto it = m_byPath.lower_bound(path); it != m_byPath.end();) {
        const std::string& entry = it->first;
        if (entry.compare(0, path.size(), path) != 0)
            break;
        if (entry.size() == path.size() || entry[path.size()] == '/' || path == "/") {
            m_byHandle.erase(it->second);
            it = m_byPath.erase(it);
        } else {
            ++it;
        }
    }
}

void CFolderHandleResolver::ForgetAll()
{
    m_byHandle.clear();
    m_byPath.clear();
}
