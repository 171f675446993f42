#include "Scan/FileNameFactory.h"

#include "Base/BackgroundRemover.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"

CFileNameFactory::CFileNameFactory(unsigned int backupType, std::string resultsFolder)
    : m_backupType(backupType), m_resultsFolder(std::move(resultsFolder))
{
}

CFileNameFactory::~CFileNameFactory() = default;

std::string CFileNameFactory::InFolder(const std::string& name) const
{
    return FXPath::Append(m_resultsFolder, name);
}

std::string CFileNameFactory::CollectMap(unsigned long) const { return InFolder("split_config"); }

std::string CFileNameFactory::ConsolidatedDirChange(unsigned long backupType) const
{
    if (backupType == 0)
        backupType = m_backupType;
    return InFolder(backupType == kFullBackup ? "DCTot.zvf" : "DCInc.zvf");
}

std::string CFileNameFactory::CollectEvidence() const
{
    return InFolder(IsFullBackup() ? "CollectEvidenceTot.zvf" : "CollectEvidenceInc.zvf");
}
std::string CFileNameFactory::ConsolidatedDirChangeTemp() const { return InFolder("DCTmp.zvf"); }
std::string CFileNameFactory::StubCollect() const { return InFolder("StubCollect.zvf"); }
std::string CFileNameFactory::DiagnosticData() const { return InFolder("FilterTot.zvf"); }
std::string CFileNameFactory::SplitCollect(int, int) const { return InFolder("split_config"); }

std::string CFileNameFactory::WorkUnitDirChange(int workUnit) const
{
    return InFolder(KxFormat("DirChange_%04d.zvf", workUnit));
}

std::string CFileNameFactory::WorkUnitDirChangeFolder() const { return m_resultsFolder; }
std::string CFileNameFactory::WorkUnitDirChangeNamePattern() const { return "DirChange_*.zvf"; }

std::string CFileNameFactory::WorkUnitDirChangeTemp(int workUnit) const
{
    return InFolder(KxFormat("DirChange_%04d_temp.zvf", workUnit));
}

std::string CFileNameFactory::WorkUnitDirChangeTempFolder() const { return m_resultsFolder; }
std::string CFileNameFactory::WorkUnitDirChangeTempNamePattern() const { return "DirChange_*_temp.zvf"; }

std::string CFileNameFactory::WorkUnitCollect(int workUnit) const
{
    return InFolder(KxFormat("%s%d.zvf", CollectFileBaseName().c_str(), workUnit));
}

std::string CFileNameFactory::WorkUnitCollectFolder() const { return m_resultsFolder; }

std::string CFileNameFactory::WorkUnitCollectNamePattern() const
{
    return IsFullBackup() ? "NumColTot*.zvf" : "NumColInc*.zvf";
}

std::string CFileNameFactory::CollectFileBaseName() const { return IsFullBackup() ? "NumColTot" : "NumColInc"; }
std::string CFileNameFactory::WorkUnitMonikerMapFolder() const { return m_resultsFolder; }
std::string CFileNameFactory::WorkUnitMonikerMapTemp() const { return InFolder("USER_MONIKER_ABSMAP_TMP.zvf"); }
std::string CFileNameFactory::UsnTemp() const { return InFolder("cjfile.tmp"); }
std::string CFileNameFactory::DeletedItemsCollect() const
{
    return InFolder(CollectFileBaseName() + "DeletedItems.zvf");
}

std::string CFileNameFactory::FailedItemsCollect() const { return InFolder("Failures.zvf"); }
std::string CFileNameFactory::ScanFailedItemsCollect() const { return InFolder("scan_Failures.zvf"); }
std::string CFileNameFactory::CommitCollect() const { return InFolder("CommitCollect.zvf"); }
std::string CFileNameFactory::GetSnapInformation() const { return InFolder("reusecollect.zvf"); }
std::string CFileNameFactory::MountConfigFile() const { return InFolder("MountConfig.xml"); }
std::string CFileNameFactory::MonikerAbsoultPathMappingFile() const { return InFolder("USER_MONIKER_ABSMAP.zvf"); }
std::string CFileNameFactory::SyncContentFile() const { return InFolder("SyncContent.zvf"); }
std::string CFileNameFactory::MonikerHookFile() const { return InFolder("monikers.sent"); }

std::string CFileNameFactory::ConsolidatedIPhotoDB(unsigned long backupType) const
{
    return InFolder(backupType == kFullBackup ? "ZvIPhotoDBTot.db" : "ZvIPhotoDBInc.db");
}

std::string CFileNameFactory::ConsolidatedIPhotoDBTmp() const { return InFolder("ZvIPhotoDBTmp.db"); }
std::string CFileNameFactory::HadoopNodeMapFile() const { return InFolder("HadoopNodeMap.zvf"); }
std::string CFileNameFactory::GetPreScanFileName() const { return InFolder("PreScan.txt"); }
std::string CFileNameFactory::GetContentFile() const { return InFolder("ScanView.txt"); }
std::string& CFileNameFactory::GetResultsFolderForSubclient() { return m_resultsFolder; }
std::string CFileNameFactory::FileExtentBackupInfoFile() const { return InFolder("FileExtentBackupInfo.zvf"); }

void CFileNameFactory::DeleteMatching(const std::string& folder, const std::string& pattern)
{
    size_t deleted = 0;
    CKxError result = FXFile::DeleteMatchingFiles(folder, pattern, &deleted);
    if (result.IsError())
        FSLOG_ERROR("Failed to delete [%s] in [%s]: %s", pattern.c_str(), folder.c_str(),
                    result.AsString().c_str());
    else if (deleted > 0)
        FSLOG(5, "Deleted %zu file(s) matching [%s] in [%s]", deleted, pattern.c_str(), folder.c_str());
}

void CFileNameFactory::DeleteFromResultsFolder(const std::vector<std::string>& patterns) const
{
    for (const std::string& pattern : patterns)
        DeleteMatching(m_resultsFolder, pattern);
}

void CFileNameFactory::DeleteSubclientFiles()
{
    FSTRACE();
    DeleteMatching(WorkUnitDirChangeFolder(), WorkUnitDirChangeNamePattern());
    DeleteMatching(WorkUnitDirChangeTempFolder(), WorkUnitDirChangeTempNamePattern());
    DeleteMatching(WorkUnitCollectFolder(), WorkUnitCollectNamePattern());
    DeleteFromResultsFolder({
        FXPath::FileName(ConsolidatedDirChangeTemp()),
        FXPath::FileName(DiagnosticData()),
        FXPath::FileName(UsnTemp()),
        FXPath::FileName(CollectMap(m_backupType)),
        "CollectTot.zvf",
        "CollectInc.zvf",
        FXPath::FileName(StubCollect()),
        "FilterTot.zvf",
        "FilterInc.zvf",
        "CIdxDone.zvf",
        "ContentMap.zvf",
        "SCFilesCol.zvf",
        "OnlineCIUNCPaths.zvf",
        "*_SiloVolCommitOngoing.zvf",
        "moniker.sent",
        "NutanixNativeSnap*",
        CBackgroundRemover::kLeftoverPattern,
    });
}
