#include "Base/MountTable.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <sstream>

#include <sys/sysmacros.h>

namespace {

// Kept in step with the table in docs/consumers.md.
constexpr std::array<std::string_view, 27> kSkippedTypes = {
    "autofs",    "binfmt_misc", "bpf",     "cgroup",     "cgroup2",         "configfs",    "debugfs",
    "devpts",    "devtmpfs",    "efivarfs", "fuse.gvfsd-fuse", "fuse.portal", "fusectl", "hugetlbfs",
    "mqueue",    "nfsd",        "nsfs",    "proc",       "pstore",          "ramfs",       "rpc_pipefs",
    "securityfs", "selinuxfs",  "sysfs",   "tmpfs",      "tracefs",         "usbfs",
};

// Fields of the mount table escape blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out.push_back(static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

}  // namespace

bool CMountTable::IsSkippedType(std::string_view fsType)
{
    return std::find(kSkippedTypes.begin(), kSkippedTypes.end(), fsType) != kSkippedTypes.end();
}

std::vector<SMountEntry> CMountTable::Parse(const std::string& text)
{
    std::vector<SMountEntry> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // id parent major:minor root mount-point options [optional fields] - type source options
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, options, field;
        if (!(fields >> id >> parent >> device >> root >> mountPoint >> options))
            continue;
        while (fields >> field && field != "-") {
        }
        SMountEntry entry;
        std::string source;
        if (field != "-" || !(fields >> entry.fsType))
            continue;
        fields >> source;
        unsigned major = 0, minor = 0;
        if (std::sscanf(device.c_str(), "%u:%u", &major, &minor) != 2)
            continue;
        entry.device = makedev(major, minor);
        entry.mountPoint = Unescape(mountPoint);
        entry.source = Unescape(source);
        mounts.push_back(std::move(entry));
    }
    return mounts;
}
