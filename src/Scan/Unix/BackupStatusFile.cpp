#include "Scan/Unix/BackupStatusFile.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"

CBackupStatusFile::CBackupStatusFile(std::string resultsFolderForSubclient)
    : m_resultsFolderForSubclient(std::move(resultsFolderForSubclient))
{
    if (CKxError initialized = Initialize(); initialized.IsError())
        FSLOG_ERROR("Initialize failed, ResultsFolderForSubclient=%s, error=%s", m_resultsFolderForSubclient.c_str(),
                    initialized.AsString().c_str());
}

CBackupStatusFile::~CBackupStatusFile() = default;

CKxError CBackupStatusFile::Initialize()
{
    KX_RETURN_IF_ERROR(MigrateOldFile());
    m_statusFilePath = FXPath::Append(m_resultsFolderForSubclient, kFileName);
    KX_RETURN_IF_FAILED(ReadFile(m_statusFilePath), "Failed to read backup status file, FileName=%s",
                        m_statusFilePath.c_str());
    return CKxError::Success();
}

CKxError CBackupStatusFile::MigrateOldFile() { return CKxError::Success(); }

CKxError CBackupStatusFile::ReadFile(const std::string& path)
{
    if (!FXFile::Exists(path))
        return CKxError::Success();
    std::lock_guard lock(m_statusLock);
    m_readRecords.clear();
    m_updatedRecords.clear();
    return CKxError::Success();
}

CVolumeBackupStatusData CBackupStatusFile::GetBackupStatusData(const std::string&) const
{
    return CVolumeBackupStatusData();
}

CKxError CBackupStatusFile::SaveUpdatedStatusData(const CVolumeBackupStatusData& record)
{
    FSLOG(0, "VolumeName=%s, LastUsn=%lld, RefTime=%s, LastGoodUsn=%lld, FullUsn=%lld", record.GetVolumeName().c_str(),
          static_cast<long long>(record.GetLastUsn()), record.GetRefTime().AsLocalString().c_str(),
          static_cast<long long>(record.GetLastGoodUsn()), static_cast<long long>(record.GetFullUsn()));
    CVolumeBackupStatusData copy;
    copy.Copy(record);
    std::lock_guard lock(m_statusLock);
    m_updatedRecords[copy.GetVolumeName()] = std::move(copy);
    return CKxError::Success();
}

CKxError CBackupStatusFile::WriteOutputFile()
{
    std::lock_guard lock(m_statusLock);
    return CKxError::Success();
}

CKxError CBackupStatusFile::WriteRecord(int, const CVolumeBackupStatusData&)
{
    std::lock_guard lock(m_statusLock);
    return CKxError::Success();
}

bool CBackupStatusFile::GetSavedStatusData(const std::string& volumeName, CVolumeBackupStatusData& record) const
{
    std::lock_guard lock(m_statusLock);
    auto found = m_updatedRecords.find(volumeName);
    if (found == m_updatedRecords.end())
        return false;
    record = found->second;
    return true;
}
