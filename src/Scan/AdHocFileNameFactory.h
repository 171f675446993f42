#pragma once
// CAdHocFileNameFactory: the ad hoc (on-demand) names on the base factory: the same names as
// CUnixAdHocFileNameFactory, for callers that hold a CFileNameFactory.
#include "Scan/FileNameFactory.h"

class CAdHocFileNameFactory : public CFileNameFactory {
public:
    CAdHocFileNameFactory(unsigned int backupType, std::string resultsFolder);
    ~CAdHocFileNameFactory() override;

    std::string ConsolidatedDirChange(unsigned long backupType) const override;
    std::string ConsolidatedDirChangeTemp() const override;
    std::string DiagnosticData() const override;
    std::string WorkUnitCollectNamePattern() const override;
    std::string CollectFileBaseName() const override;
    std::string FailedItemsCollect() const override;
    // The ad hoc clean-up list plus the content-indexing markers ("CIdxDone*").
    void DeleteSubclientFiles() override;
};
