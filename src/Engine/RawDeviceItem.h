#pragma once
// CRawDeviceItem: a block device named as content (its data, not a file system on it, is
// backed up). Its size is the device's size; GetSizeOnDisk is the same.
//
// Thread: as CItem.
#include "Engine/FindFirstItem.h"

class CRawDeviceItem : public CFindFirstItem {
public:
    CRawDeviceItem(std::string localPath, std::string sourcePath, const struct stat& status,
                   std::uint64_t deviceSize, CBagPtr workUnitBag = nullptr);
    ~CRawDeviceItem() override;

    std::uint64_t GetDeviceSize() const { return m_deviceSize; }
    std::uint64_t GetSizeOnDisk() const override { return m_deviceSize; }
    std::string AsString() const override;

private:
    std::uint64_t m_deviceSize;
};
