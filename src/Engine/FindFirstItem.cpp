#include "Engine/FindFirstItem.h"

#include "Base/HotPath.h"

CFindFirstItem::CFindFirstItem(std::string localPath, std::string sourcePath, const struct stat& status,
                               CBagPtr workUnitBag)
{
    SetNames(localPath, sourcePath);
    SetStatus(status);
    SetWorkUnitBag(std::move(workUnitBag));
}

CFindFirstItem::~CFindFirstItem() = default;

std::uint64_t CFindFirstItem::GetSizeOnDisk() const
{
    return static_cast<std::uint64_t>(m_status.st_blocks) * 512u;
}

KX_HOT_PATH void CFindFirstItem::SetStatus(const struct stat& status)
{
    m_status = status;
    SetTimes(status.st_mtim.tv_sec, status.st_ctim.tv_sec, status.st_atim.tv_sec);
    SetFileSize(static_cast<std::uint64_t>(status.st_size));
    SetFileMode(status.st_mode);
}

KX_HOT_PATH void CFindFirstItem::Reset()
{
    CItem::Reset();
    m_status = {};
    m_mountPoint = false;
}

std::string CFindFirstItem::AsString() const
{
    const char* kind = IsFolder() ? "Folder" : IsSymbolicLink() ? "Link" : IsRegularFile() ? "File" : "Special";
    return std::string(kind) + " '" + GetSourceFullyQualifiedItemName() + "'";
}
