#include "Scan/AdHocFileNameFactory.h"

#include "Base/BackgroundRemover.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"

CAdHocFileNameFactory::CAdHocFileNameFactory(unsigned int backupType, std::string resultsFolder)
    : CFileNameFactory(backupType, std::move(resultsFolder))
{
}

CAdHocFileNameFactory::~CAdHocFileNameFactory() = default;

std::string CAdHocFileNameFactory::ConsolidatedDirChange(unsigned long) const { return InFolder("DCOD.zvf"); }
std::string CAdHocFileNameFactory::ConsolidatedDirChangeTemp() const { return InFolder("DCODTmp.zvf"); }
std::string CAdHocFileNameFactory::DiagnosticData() const { return InFolder("FilterOD.zvf"); }
std::string CAdHocFileNameFactory::WorkUnitCollectNamePattern() const { return "CollectOD*.zvf"; }
std::string CAdHocFileNameFactory::CollectFileBaseName() const { return "CollectOD"; }
std::string CAdHocFileNameFactory::FailedItemsCollect() const { return InFolder("FailuresOD.zvf"); }

void CAdHocFileNameFactory::DeleteSubclientFiles()
{
    FSTRACE();
    std::vector<std::string> patterns = AdHocCleanupList(WorkUnitCollectNamePattern(), DiagnosticData(),
                                                         CollectMap(m_backupType));
    patterns.push_back("CIdxDone*");
    DeleteFromResultsFolder(patterns);
}

std::vector<std::string> CAdHocFileNameFactory::AdHocCleanupList(const std::string& collectPattern,
                                                                 const std::string& diagnosticData,
                                                                 const std::string& splitMap)
{
    return {
        "CollectOD*",
        FXPath::FileName(diagnosticData),
        collectPattern,
        "H" + collectPattern,
        FXPath::FileName(splitMap),
        "HCollect_split_config",
        "hardLinks*",
        "split_config.orig",
        CBackgroundRemover::kLeftoverPattern,
    };
}
