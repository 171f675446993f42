#include "Scan/Unix/UnixAdHocFileNameFactory.h"

#include "Base/FunctionTrace.h"
#include "Scan/AdHocFileNameFactory.h"

CUnixAdHocFileNameFactory::CUnixAdHocFileNameFactory(unsigned int backupType, std::string resultsFolder)
    : CUnixFileNameFactory(backupType, std::move(resultsFolder))
{
}

CUnixAdHocFileNameFactory::~CUnixAdHocFileNameFactory() = default;

std::string CUnixAdHocFileNameFactory::ConsolidatedDirChange(unsigned long) const { return InFolder("DCOD.zvf"); }
std::string CUnixAdHocFileNameFactory::ConsolidatedDirChangeTemp() const { return InFolder("DCODTmp.zvf"); }
std::string CUnixAdHocFileNameFactory::DiagnosticData() const { return InFolder("FilterOD.zvf"); }
std::string CUnixAdHocFileNameFactory::WorkUnitCollectNamePattern() const { return "CollectOD*.zvf"; }
std::string CUnixAdHocFileNameFactory::WorkUnitCollectNamePattern(unsigned long) const { return "CollectOD*.zvf"; }
std::string CUnixAdHocFileNameFactory::CollectFileBaseName() const { return "CollectOD"; }
std::string CUnixAdHocFileNameFactory::FailedItemsCollect() const { return InFolder("FailuresOD.zvf"); }

void CUnixAdHocFileNameFactory::DeleteSubclientFiles()
{
    FSTRACE();
    DeleteFromResultsFolder(CAdHocFileNameFactory::AdHocCleanupList(WorkUnitCollectNamePattern(), DiagnosticData(),
                                                                    CollectMap(m_backupType)));
}
