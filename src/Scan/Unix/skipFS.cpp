#include "Scan/Unix/skipFS.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
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

skipFS::skipFS(std::string mountTable) : m_mountTable(std::move(mountTable)) {}

bool skipFS::IsSkippedType(std::string_view fsType)
{
    return std::find(kSkippedTypes.begin(), kSkippedTypes.end(), fsType) != kSkippedTypes.end();
}

std::vector<SMountEntry> skipFS::ParseMountTable(const std::string& text)
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

CKxError skipFS::LoadLocked()
{
    std::string text;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(m_mountTable, text), "Failed to read the mount table [%s]",
                        m_mountTable.c_str());
    m_mounts = ParseMountTable(text);
    m_loaded = true;
    return CKxError::Success();
}

CKxError skipFS::Refresh()
{
    std::lock_guard lock(m_tableLock);
    return LoadLocked();
}

CKxError skipFS::GetMounts(std::vector<SMountEntry>& mounts)
{
    std::lock_guard lock(m_tableLock);
    if (!m_loaded)
        KX_RETURN_IF_ERROR(LoadLocked());
    mounts = m_mounts;
    return CKxError::Success();
}

bool skipFS::FindLocked(const std::string& path, std::uint64_t device, SMountEntry& entry) const
{
    // Later lines mount over earlier ones, so among equals the last wins.
    const SMountEntry* byDevice = nullptr;
    const SMountEntry* byPrefix = nullptr;
    for (const SMountEntry& mount : m_mounts) {
        if (!FXPath::IsUnder(path, mount.mountPoint) && mount.mountPoint != "/")
            continue;
        if (mount.device == device && (!byDevice || mount.mountPoint.size() >= byDevice->mountPoint.size()))
            byDevice = &mount;
        if (!byPrefix || mount.mountPoint.size() >= byPrefix->mountPoint.size())
            byPrefix = &mount;
    }
    if (!byDevice)
        for (const SMountEntry& mount : m_mounts)
            if (mount.device == device)
                byDevice = &mount;  // a path reached through a link names another place
    const SMountEntry* found = byDevice ? byDevice : byPrefix;
    if (!found)
        return false;
    entry = *found;
    return byDevice != nullptr;
}

CKxError skipFS::FindMount(const std::string& path, const struct stat* status, SMountEntry& entry)
{
    struct stat own {};
    if (!status) {
        if (::lstat(path.c_str(), &own) != 0)
            return CKxError::FromErrno(errno, KxFormat("stat failed for %s", path.c_str()));
        status = &own;
    }
    const std::uint64_t device = static_cast<std::uint64_t>(status->st_dev);
    std::lock_guard lock(m_tableLock);
    if (!m_loaded)
        KX_RETURN_IF_ERROR(LoadLocked());
    if (FindLocked(path, device, entry))
        return CKxError::Success();
    KX_RETURN_IF_ERROR(LoadLocked());  // mounted since the table was read?
    if (FindLocked(path, device, entry) || !entry.mountPoint.empty())
        return CKxError::Success();
    return CKxError(KxCode::NotFound, KxFormat("No mount holds [%s]", path.c_str()));
}

CKxError skipFS::GetFsType(const std::string& path, bool& skip, struct stat& status, std::string& fsType)
{
    skip = false;
    fsType.clear();
    if (::lstat(path.c_str(), &status) != 0)
        return CKxError::FromErrno(errno, KxFormat("stat failed for %s", path.c_str()));
    SMountEntry entry;
    if (CKxError found = FindMount(path, &status, entry); found.IsError()) {
        // Nothing known about the file system: it is not skipped.
        FSLOG(3, "File system of [%s] unknown: %s", path.c_str(), found.AsString().c_str());
        return CKxError::Success();
    }
    fsType = entry.fsType;
    skip = IsSkippedType(fsType);
    return CKxError::Success();
}

CKxError skipFS::GetVolumeName(const std::string& path, std::string& name)
{
    name.clear();
    SMountEntry entry;
    KX_RETURN_IF_ERROR(FindMount(path, nullptr, entry));
    // "tmpfs", "none", "overlay" name a kind, not a device: two such mounts are two volumes.
    if (entry.source.find('/') != std::string::npos)
        name = entry.source;
    return CKxError::Success();
}
