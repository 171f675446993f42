#pragma once
// CUnixAdHocFileNameFactory: names of ad hoc (on-demand) jobs on Unix. They keep their own
// directory-change record, collect files and failure list ("OD" names, the same for every
// backup type), so that an ad hoc job never disturbs the records of the subclient's scheduled
// backups that share the results folder.
#include "Scan/Unix/UnixFileNameFactory.h"

class CUnixAdHocFileNameFactory : public CUnixFileNameFactory {
public:
    CUnixAdHocFileNameFactory(unsigned int backupType, std::string resultsFolder);
    ~CUnixAdHocFileNameFactory() override;

    std::string ConsolidatedDirChange(unsigned long backupType) const override;
    std::string ConsolidatedDirChangeTemp() const override;
    std::string DiagnosticData() const override;
    std::string WorkUnitCollectNamePattern() const override;
    std::string WorkUnitCollectNamePattern(unsigned long backupType) const override;
    std::string CollectFileBaseName() const override;
    std::string FailedItemsCollect() const override;
    // Only the ad hoc job's own collect, filter, split and hard-link files; the scheduled
    // backups' files and every directory-change record stay.
    void DeleteSubclientFiles() override;
};
