#pragma once
// CFindFirstItem: an item read from the file system by the walk. Besides the CItem fields it
// keeps the raw status record the walk read (lstat semantics: a symbolic link's own status)
// and whether the item is a mount point (its device differs from its folder's).
//
// Thread: as CItem.
#include "Engine/Item.h"

#include <sys/stat.h>

class CFindFirstItem : public CItem {
public:
    CFindFirstItem() = default;
    // An item built from a status the caller read (a link target, a replayed path).
    CFindFirstItem(std::string localPath, std::string sourcePath, const struct stat& status,
                   CBagPtr workUnitBag = nullptr);
    ~CFindFirstItem() override;

    // The raw status record (64-bit fields on every supported platform).
    const struct stat& GetFindFirstRawData() const { return m_status; }
    std::uint64_t GetDeviceId() const { return static_cast<std::uint64_t>(m_status.st_dev); }
    std::uint64_t GetInodeNumber() const { return static_cast<std::uint64_t>(m_status.st_ino); }
    std::uint64_t GetLinkCount() const override { return static_cast<std::uint64_t>(m_status.st_nlink); }
    std::uint32_t GetOwnerId() const { return m_status.st_uid; }
    std::uint32_t GetGroupId() const { return m_status.st_gid; }
    std::uint64_t GetSizeOnDisk() const override;
    // True when the walk found the item's device to differ from its parent folder's.
    bool IsMountPoint() const { return m_mountPoint; }
    void SetMountPoint(bool on) { m_mountPoint = on; }

    // Copies the record and fills the CItem status fields from it.
    void SetStatus(const struct stat& status);
    void Reset() override;
    std::string AsString() const override;

private:
    struct stat m_status {};
    bool m_mountPoint = false;
};

using CFindFirstItemPtr = std::shared_ptr<CFindFirstItem>;
