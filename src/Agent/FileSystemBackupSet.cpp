#include "Agent/FileSystemBackupSet.h"

FileSystemBackupSet::FileSystemBackupSet(BackupSetData data) : m_data(std::move(data)) {}

CKxError FileSystemBackupSet::getBackupSetName(std::string& name) const
{
    name = m_data.name;
    return CKxError::Success();
}

CKxError FileSystemBackupSet::isDefaultBackupSet(bool& isDefault) const
{
    isDefault = m_data.isDefault;
    return CKxError::Success();
}

CKxError FileSystemBackupSet::isRejectedKind(bool& yes) const
{
    yes = m_data.kind == "rejected";
    return CKxError::Success();
}

CKxError FileSystemBackupSet::isOnDemandKind(bool& yes) const
{
    yes = m_data.kind == "onDemand";
    return CKxError::Success();
}
