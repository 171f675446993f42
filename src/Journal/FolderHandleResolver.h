#pragma once
// CFolderHandleResolver: turns the folder handles of fanotify events into paths.
//
// A handle is opened with open_by_handle_at through a descriptor of a marked mount of its file
// system and named by the kernel's link in /proc/self/fd. Resolved paths are kept by the
// handle's bytes (file-system id, type, handle), at most kMaxEntries, so that a busy folder
// costs one look-up per event; a folder that is moved or deleted drops its own entry and every
// entry below its old path, because those handles now name other paths.
//
// A folder that no longer exists (ESTALE, ENOENT, a link count of 0, or ENOMEM that stays while
// memory is plenty: the kernel's answer for an inode it is still freeing) is EGone; any other
// failure is EFailed with its errno. Test hook: the environment variable
// FSJOURNALD_TEST_RESOLVE_ERRNO, read once at construction, makes every resolution that misses
// the cache fail with that errno number, to force the unresolvable-handle break.
//
// Ownership: owns the mount descriptors. Thread: one thread (the daemon's loop).
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <fcntl.h>

class CFolderHandleResolver {
public:
    static constexpr size_t kMaxEntries = 1 << 16;
    enum EResult { EResolved, EGone, EFailed };

    CFolderHandleResolver();
    CFolderHandleResolver(const CFolderHandleResolver&) = delete;
    CFolderHandleResolver& operator=(const CFolderHandleResolver&) = delete;
    ~CFolderHandleResolver();

    // Adds `mountFd` (an O_RDONLY folder descriptor; taken over) for file system `fsid`.
    void AddMount(uint64_t fsid, int mountFd);

    // Resolves `handle` of file system `fsid`; `path` views the cached text (valid until the
    // next non-const call). `error` is the errno of EFailed.
    EResult Resolve(uint64_t fsid, const struct file_handle& handle, std::string_view& path, int& error);
    // Opens the folder of `handle` (O_PATH; the caller closes it), -1 when it cannot.
    int Open(uint64_t fsid, const struct file_handle& handle) const;

    // Drops the entries at or below `path` (a folder moved or deleted).
    void ForgetBelow(std::string_view path);
    void ForgetAll();
    size_t Size() const { return m_byHandle.size(); }
    // The cache key of a handle: its file system, type and bytes (into `key`, replacing it).
    static void Key(uint64_t fsid, const struct file_handle& handle, std::string& key);

private:

    std::unordered_map<uint64_t, std::vector<int>> m_mounts;  // fsid -> mount descriptors
    std::unordered_map<std::string, std::string> m_byHandle;  // key -> path
    std::map<std::string, std::string, std::less<>> m_byPath; // path -> key (for ForgetBelow)
    std::string m_key;  // the look-up key, kept so that a hit allocates nothing
    int m_testErrno = 0;
};
