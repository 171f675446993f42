#include "Scan/Dirchange/FileNameFactorySQLiteDirchange.h"

CFileNameFactorySQLiteDirchange::CFileNameFactorySQLiteDirchange(unsigned int backupType, std::string resultsFolder)
    : CUnixFileNameFactory(backupType, std::move(resultsFolder))
{
}

CFileNameFactorySQLiteDirchange::~CFileNameFactorySQLiteDirchange() = default;

std::string CFileNameFactorySQLiteDirchange::ConsolidatedDirChange(unsigned long backupType) const
{
    if (backupType == 0)
        backupType = m_backupType;
    return InFolder(backupType == kFullBackup ? "DirChangeFull.db" : "DirChangeIncremental.db");
}

std::string CFileNameFactorySQLiteDirchange::ConsolidatedDirChangeTemp() const
{
    return InFolder("DirChangePending.db");
}
