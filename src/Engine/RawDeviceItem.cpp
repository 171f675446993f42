#include "Engine/RawDeviceItem.h"

CRawDeviceItem::CRawDeviceItem(std::string localPath, std::string sourcePath, const struct stat& status,
                               std::uint64_t deviceSize, CBagPtr workUnitBag)
    : CFindFirstItem(std::move(localPath), std::move(sourcePath), status, std::move(workUnitBag)),
      m_deviceSize(deviceSize)
{
    SetFileSize(deviceSize);
}

CRawDeviceItem::~CRawDeviceItem() = default;

std::string CRawDeviceItem::AsString() const { return "RawDevice '" + GetSourceFullyQualifiedItemName() + "'"; }
