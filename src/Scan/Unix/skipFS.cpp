#include "Scan/Unix/skipFS.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"

#include <algorithm>
#include <cerrno>

skipFS::skipFS(std::string mountTable) : m_mountTable(std::move(mountTable)) {}

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
