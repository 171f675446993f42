#pragma once
// CFileNameFactorySQLiteDirchange: names of jobs that keep their directory-change record in
// SQLite databases. Only the consolidated record and its pending copy change; everything else,
// clean-up included, is the Unix factory's.
#include "Scan/Unix/UnixFileNameFactory.h"

class CFileNameFactorySQLiteDirchange : public CUnixFileNameFactory {
public:
    CFileNameFactorySQLiteDirchange(unsigned int backupType, std::string resultsFolder);
    ~CFileNameFactorySQLiteDirchange() override;

    // "DirChangeFull.db" for type 1, else "DirChangeIncremental.db"; 0 means the factory's own.
    std::string ConsolidatedDirChange(unsigned long backupType) const override;
    // "DirChangePending.db": the database of this job until the backup phase keeps it.
    std::string ConsolidatedDirChangeTemp() const override;
};
