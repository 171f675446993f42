#pragma once
// CMountTable: the kernel's mount table text (/proc/self/mountinfo) as entries, and the
// file-system types a scan never enters.
//
// Skipped types are those whose content is not data of this machine that a restore could
// bring back: kernel and process views (proc, sysfs, cgroup, debugfs, ...), device nodes made
// at boot (devtmpfs, devpts), memory-backed file systems that are empty after a restart
// (tmpfs, ramfs), automounter stubs and desktop bridges onto other storage. docs/consumers.md
// lists them with the reason.
//
// Thread: pure functions.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SMountEntry {
    std::uint64_t device = 0;  // makedev(major, minor) of the mount
    std::string mountPoint;
    std::string fsType;
    std::string source;  // the mounted device or the file system's own name ("tmpfs", "host:/export")
};

class CMountTable {
public:
    static constexpr const char* kPath = "/proc/self/mountinfo";

    // Parses mountinfo text; malformed lines are left out.
    static std::vector<SMountEntry> Parse(const std::string& text);
    static bool IsSkippedType(std::string_view fsType);
};
