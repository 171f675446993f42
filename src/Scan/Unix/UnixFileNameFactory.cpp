#include "Scan/Unix/UnixFileNameFactory.h"

#include "Base/BackgroundRemover.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "Agent/XJob.h"
#include "Agent/ZVPI_CommClient.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"

CUnixFileNameFactory::CUnixFileNameFactory(unsigned int backupType, std::string resultsFolder)
    : CFileNameFactory(backupType, std::move(resultsFolder))
{
}

CUnixFileNameFactory::~CUnixFileNameFactory() = default;

std::string CUnixFileNameFactory::CollectMap(unsigned long) const { return InFolder("split_config"); }
std::string CUnixFileNameFactory::ConsolidatedDirChangeTemp() const { return InFolder("DCTmp.zvf"); }
std::string CUnixFileNameFactory::DiagnosticData() const { return InFolder("FilterTot.zvf"); }
std::string CUnixFileNameFactory::SplitCollect(int, int) const { return InFolder("split_config"); }

std::string CUnixFileNameFactory::WorkUnitCollect(int workUnit) const
{
    return InFolder(KxFormat("%s%d.zvf", CollectFileBaseName().c_str(), workUnit));
}

std::string CUnixFileNameFactory::WorkUnitCollectNamePattern() const
{
    return WorkUnitCollectNamePattern(m_backupType);
}

std::string CUnixFileNameFactory::WorkUnitCollectNamePattern(unsigned long backupType) const
{
    return backupType == kFullBackup ? "CollectTot*.zvf" : "CollectInc*.zvf";
}

std::string CUnixFileNameFactory::CollectFileBaseName() const { return IsFullBackup() ? "CollectTot" : "CollectInc"; }
std::string CUnixFileNameFactory::FailedItemsCollect() const { return InFolder("Failures.zvf"); }
std::string CUnixFileNameFactory::ScanFailedItemsCollect() const { return InFolder("scan_Failures.zvf"); }
std::string CUnixFileNameFactory::GetSnapInformation() const { return InFolder("reusecollect.zvf"); }
std::string CUnixFileNameFactory::NativeSnapInfo() const { return InFolder("nativeSnapInfo.zvf"); }
std::string CUnixFileNameFactory::NativeSnapMapInfo() const { return InFolder("nativeSnapMapInfo.zvf"); }
std::string CUnixFileNameFactory::FileShareAutoMountMapInfo() const { return InFolder("AutoMountShareConfig.zvf"); }

void CUnixFileNameFactory::DeleteSubclientFiles()
{
    FSTRACE();
    DeleteFromResultsFolder({"CollectTot.zvf", "CollectInc.zvf", "FilterTot.zvf", "FilterInc.zvf"});
    if (IsFullBackup()) {
        // A full starts both families afresh; an incremental keeps the numbered collect files
        // of the full it follows.
        DeleteFromResultsFolder({"CollectTot*.zvf", "HCollectTot*.zvf", "CollectEvidenceTot.zvf"});
    }
    DeleteFromResultsFolder({
        "CollectInc*.zvf",
        "CollectEvidenceInc.zvf",
        FXPath::FileName(CollectMap(m_backupType)),
        "HCollectInc*.zvf",
        "HCollect_split_config",
        "Merged_split_config",
        "hardLinks*",
        "split_config.orig",
        "CIdxDone.zvf",
        "ContentMap.zvf",
        "SCFilesCol.zvf",
        "OnlineCIUNCPaths.zvf",
        "*_SiloVolCommitOngoing.zvf",
        "DCFilesDB-*",
        "GpfsMmPolicy*",
        "GpfsMmApplyPolicy*",
        "GpfsCollect*",
        "ZvIPhotoCollect*",
        "ZvIPhotoDBTmp*",
        "CollectOD*",
        "DCOD.zvf",
        "FailuresOD.zvf",
        "restartMapOD",
        "FileExtent*",
        "FileExtentBackupInfo.zvf*",
        "LargeFailedFiles*",
        CBackgroundRemover::kLeftoverPattern,
    });
}

namespace {
// Automatic mounts of one subclient live in a folder of their own below the agent's temporary
// folder, named after the subclient's results folder ("<orbundId>_<appNumber>"), so that two
// subclients scanning at once never share a mount point.
std::string MountFolder(const std::string& resultsFolder)
{
    const std::string tmp = CXJob::getVantrelTempDirectory();
    if (tmp.empty())
        return {};
    const std::string tag = FXPath::FileName(FXPath::Parent(resultsFolder)) + "_" + FXPath::FileName(resultsFolder);
    return FXPath::Append(FXPath::Append(tmp, "AutoMount"), tag);
}
}  // namespace

std::string CUnixFileNameFactory::FileShareAutoMountPath() const { return MountFolder(m_resultsFolder); }

std::string CUnixFileNameFactory::NativeSnapMapMountPath() const
{
    const std::string folder = MountFolder(m_resultsFolder);
    return folder.empty() ? folder : FXPath::Append(folder, "NativeSnap");
}

std::string CUnixFileNameFactory::getJobResultsDirRealPath()
{
    if (!m_jobResultsRealPath.empty())
        return m_jobResultsRealPath;
    std::string jobResults;
    CKxError query = ZVPI_CommClient::getJobResultsDirectory(CXJob::GetFocusClientName(), jobResults);
    if (query.IsError() || jobResults.empty()) {
        FSLOG_ERROR("Failed to get the job results directory: %s", query.AsString().c_str());
        return {};
    }
    std::string home;
    ZVPlatformInfo::getString("Plyborn", "dHOME", home);
    home = FXPath::TrimTrailingSlashes(home);
    struct stat st;
    if (!home.empty() && home != "/" && ::lstat(home.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        jobResults.compare(0, home.size() + 1, home + "/") == 0) {
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
        ssize_t length = ::readlink(home.c_str(), target.data(), target.size());
        if (length > 0 && static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            // A relative target is relative to the folder that holds the link.
            if (target[0] != '/')
                target = FXPath::Append(FXPath::Parent(home), target);
            target = FXPath::TrimTrailingSlashes(target);
            jobResults = FXPath::Append(target, jobResults.substr(home.size() + 1));
            FSLOG(3, "Home [%s] is a link to [%s]; job results [%s]", home.c_str(), target.c_str(), jobResults.c_str());
        } else {
            FSLOG_ERROR("readlink failed for [%s], errno=%d", home.c_str(), errno);
        }
    }
    m_jobResultsRealPath = jobResults;
    return m_jobResultsRealPath;
}
