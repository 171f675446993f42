#pragma once
// skipFS: the mounted file systems as the scan sees them (the kernel's mount table,
// "/proc/self/mountinfo"), and which file-system types a scan never enters.
//
// Skipped types are CMountTable's. A skipped type is still walked when the scanned volume itself
// is of that type (the caller compares with the volume's own type).
//
// Lookups find the mount of a path by its device: the entry whose device equals the path's
// st_dev (the innermost such mount point when several show the same device), else, for file
// systems whose files report another device than their mount (btrfs subvolumes), the entry
// with the longest mount point holding the path. A device missing from the table refreshes it
// once (a file system mounted while the scan runs).
//
// Ownership: the Unix callback keeps one per job and shares it with the chains it builds.
// Thread: every member may be called from any thread; m_tableLock guards the table.
#include "Base/KxError.h"
#include "Base/MountTable.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>
#include <sys/stat.h>

class skipFS {
public:
    static constexpr const char* kMountTable = "/proc/self/mountinfo";

    // `mountTable` is read instead of the kernel's (tests describe a machine with it).
    explicit skipFS(std::string mountTable = kMountTable);

    // Reads the table again.
    [[nodiscard]] CKxError Refresh();
    // A copy of the table (read on first use).
    [[nodiscard]] CKxError GetMounts(std::vector<SMountEntry>& mounts);
    // The mount that holds `path`; `status` is the path's lstat when the caller has it.
    [[nodiscard]] CKxError FindMount(const std::string& path, const struct stat* status, SMountEntry& entry);
    // lstat of `path` into `status`, the type of the file system holding it, and whether that
    // type is skipped. An lstat failure is an errno error; a file system missing from the
    // table has an empty type and is not skipped.
    [[nodiscard]] CKxError GetFsType(const std::string& path, bool& skip, struct stat& status, std::string& fsType);
    // The name of the volume holding `path`: its mount's source. Empty when the source names
    // no single device (a memory or pseudo file system), so that two such mounts never count
    // as one volume.
    [[nodiscard]] CKxError GetVolumeName(const std::string& path, std::string& name);

    static bool IsSkippedType(std::string_view fsType) { return CMountTable::IsSkippedType(fsType); }
    static std::vector<SMountEntry> ParseMountTable(const std::string& text) { return CMountTable::Parse(text); }

private:
    [[nodiscard]] CKxError LoadLocked();
    bool FindLocked(const std::string& path, std::uint64_t device, SMountEntry& entry) const;

    std::string m_mountTable;
    mutable std::mutex m_tableLock;  // guards m_mounts and m_loaded
    std::vector<SMountEntry> m_mounts;
    bool m_loaded = false;
};
