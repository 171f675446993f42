#include "Scan/Unix/VolumeBackupStatusData.h"

void CVolumeBackupStatusData::Copy(const CVolumeBackupStatusData& other)
{
    m_volumeName = other.m_volumeName;
    m_lastUsn = other.m_lastUsn;
    m_refTime = other.m_refTime;
    m_lastGoodUsn = other.m_lastGoodUsn;
    m_fullUsn = other.m_fullUsn;
    m_journalId = other.m_journalId;
}
