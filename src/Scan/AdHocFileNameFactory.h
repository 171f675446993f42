#pragma once
// CAdHocFileNameFactory: the ad hoc (on-demand) names on the base factory: the same names as
// CUnixAdHocFileNameFactory, for callers that hold a CFileNameFactory.
#include "Scan/FileNameFactory.h"

#include <string>
#include <vector>

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

    // What every ad hoc job removes before it writes anew, given the factory's own names of its
    // collect pattern, filtered-items file and split map (the Unix ad hoc factory shares it).
    static std::vector<std::string> AdHocCleanupList(const std::string& collectPattern,
                                                     const std::string& diagnosticData, const std::string& splitMap);
};
