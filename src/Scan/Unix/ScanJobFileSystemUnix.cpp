#include "Scan/Unix/ScanJobFileSystemUnix.h"

#include "Agent/ApplicationId.h"
#include "Agent/FileBackupIndex.h"
#include "Agent/InstancePaths.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Scan/FileNameFactory.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"
#include "Scan/SubclientContent.h"
#include "Scan/Unix/UnixTrueUpJobHandle.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Id = SXScannerConfigurationBagId;

namespace {
// Takes `fd` (an open folder or file) back for the process when an earlier version of the agent
// handed it to another user: the process becomes its owner and group and others lose write.
void ReclaimOpened(int fd, const struct stat& status, const std::string& path)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (status.st_uid == uid && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return;
    FSLOG(0, "Taking [%s] back from other users (owner %u, mode %o)", path.c_str(),
          static_cast<unsigned>(status.st_uid), static_cast<unsigned>(status.st_mode & 07777));
    if (status.st_uid != uid && ::fchown(fd, uid, gid) != 0)
        FSLOG_ERROR("Could not take [%s] back: errno %d", path.c_str(), errno);
    if (::fchmod(fd, status.st_mode & 07755 & ~static_cast<mode_t>(S_ISUID | S_ISGID)) != 0)
        FSLOG_ERROR("Could not take [%s] back: errno %d", path.c_str(), errno);
}

// Takes back `folder` and the regular files directly in it. Everything goes through descriptors
// opened without following links, so a link planted in the folder changes nothing elsewhere; a
// name of a file with more than one name is removed (its other name may be anyone's).
void ReclaimFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;  // not made yet, or not a plain folder: nothing of ours to take back
    struct stat status {};
    if (::fstat(fd, &status) == 0)
        ReclaimOpened(fd, status, folder);
    DIR* dir = ::fdopendir(::dup(fd));
    while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode) ||
            (status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0))
            continue;
        const int file = ::openat(fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0)
            continue;
        if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode)) {
            // A second name may be anyone's file: the job never links its own files, so the name
            // here goes, lest a later truncating open of it reach the other file.
            if (status.st_nlink > 1) {
                FSLOG(0, "Removing [%s]: it has %lu names", FXPath::Append(folder, entry->d_name).c_str(),
                      static_cast<unsigned long>(status.st_nlink));
                (void)::unlinkat(fd, entry->d_name, 0);
            } else {
                ReclaimOpened(file, status, FXPath::Append(folder, entry->d_name));
            }
        }
        ::close(file);
    }
    if (dir)
        ::closedir(dir);
    ::close(fd);
}
}  // namespace

CScanJobFileSystemUnix::CScanJobFileSystemUnix(CScanJobFileSystem* job) : CScanJobFileSystemPrivate(job) {}

CScanJobFileSystemUnix::~CScanJobFileSystemUnix() = default;

std::string CScanJobFileSystemUnix::AsString() const { return CScanJobFileSystemPrivate::AsString() + "/FileSystemUnix"; }

CKxError CScanJobFileSystemUnix::FollowMountPoints(const CCommandLineArgumentsPtr& args)
{
    if (GetScanJobFileSystem())
        GetScanJobFileSystem()->SetFollowMountPoints(!(args && args->GetOption("skipMountPath")));
    return CKxError::Success();
}

bool CScanJobFileSystemUnix::IsImpersonatedJobType(long long jobType)
{
    switch (jobType) {
    case 3: case 5: case 8: case 11: case 12: case 17: case 30: case 32: case 42: case 48: return true;
    default: return false;
    }
}

CKxError CScanJobFileSystemUnix::GetImpersonationOption(uid_t& uid, bool& impersonate)
{
    impersonate = false;
    CScanJobFileSystem* job = GetScanJobFileSystem();
    CBagPtr bag = job ? job->GetConfigurationBag() : nullptr;
    if (!bag)
        return CKxError(KxCode::InvalidParameter, "configuration bag is NULL, could not read the impersonation option");

    if (bag->GetBool(Id::idUserCentricClientImpersonate)) {
        CFileSystemIdentity user(0, 0, {});
        const long long centricUid = CScannerSettings::GetInteger(*bag, Id::idUserCentricClientImpersonateUid, -1);
        if (centricUid < 0 || CFileSystemIdentity::ForUser(static_cast<uid_t>(centricUid), user).IsError())
            return ImpersonateForUserCentricClient(std::string());
        return ImpersonateForUserCentricClient(user.GetUserName());
    }

    // Only a root process with a user to scan as can switch; the other questions matter then.
    if (::geteuid() != 0) {
        FSLOG(0, "impersonation will not be performed for non root [%u]", static_cast<unsigned>(::geteuid()));
        return CKxError::Success();
    }
    std::string uidText;
    CCommandLineArgumentsPtr args = job->GetCommandLine();
    if (!args || !args->GetOption("uid", uidText)) {
        FSLOG(3, "error getting user name or is empty");
        return CKxError::Success();
    }
    const long long jobType = CScannerSettings::GetInteger(*bag, Id::idJobType, 0);
    if (jobType == 0)
        return CKxError(KxCode::InvalidParameter, "could not get app type for the job");
    if (!IsImpersonatedJobType(jobType)) {
        FSLOG(0, "User impersonation doesn't apply to jobtype [%d]", static_cast<int>(jobType));
        return CKxError::Success();
    }
    std::string enforce;
    if (ZVPlatformInfo::getString(CScannerSettings::kSection, "EnforceImpersonationForBackup", enforce))
        FSLOG(0, "EnforceImpersonationForBackup [%s]", enforce.c_str());

    ApplicationId application(job->GetApplicationId());
    std::shared_ptr<FileSystemBackupSet> backupSet = application.getBackupSet();
    std::shared_ptr<Subclient> subclient = application.getSubclient();
    if (!backupSet || !subclient)
        return CKxError(KxCode::UnknownProduct, "failed to get subclient or backupset");
    bool defaultSet = false;
    if (backupSet->isDefaultBackupSet(defaultSet).IsSuccess() && defaultSet) {
        FSLOG(0, "impersonation is skipped for default backupset");
        return CKxError::Success();
    }

    FSLOG(0, "User ID [%s] is set", uidText.c_str());
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(uidText.c_str(), &end, 10);
    if (uidText.empty() || errno != 0 || !end || *end != '\0' || value > 0xFFFFFFFEull)
        return CKxError(KxCode::InvalidParameter, "error getting uid from command line");

    if (bag->GetBool(Id::idUseDataClassification) || bag->GetBool(Id::idGpfsScan) ||
        bag->GetBool(Id::idFSIScanEngine)) {
        FSLOG_ERROR("GPFS or Revivo or Scan Optimization is enabled for this job, so failing it for impersonated user");
        return CKxError(KxCode::AccessDenied, "Job is not allowed for impersonated user");
    }
    uid = static_cast<uid_t>(value);
    impersonate = true;
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::ImpersonateUser()
{
    FSTRACE();
    TakeBackJobFolders();
    uid_t uid = 0;
    bool impersonate = false;
    KX_RETURN_IF_ERROR(GetImpersonationOption(uid, impersonate));
    if (!impersonate)
        return CKxError::Success();
    if (m_walkIdentity)
        return CKxError(KxCode::InvalidParameter, "Already running as ImpersonateUser");

    // The process keeps its own credentials: everything the job writes stays root's, in
    // folders only root can write. Only the walk threads read content as the user (see
    // CFileSystemIdentity), so the user is handed no file and no folder of the instance.
    CFileSystemIdentity identity(uid, 0, {});
    CKxError found = CFileSystemIdentity::ForUser(uid, identity);
    if (found.IsError())
        return std::move(found.Push(
            found.Code() == KxCode::NotFound
                ? KxFormat("Error impersonating user. User ID %d not found in system", static_cast<int>(uid))
                : KxFormat("Error impersonating user. Failed to init groups for uid %d", static_cast<int>(uid))));
    m_walkIdentity = std::make_shared<const CFileSystemIdentity>(std::move(identity));

    if (CBagPtr bag = GetScanJobFileSystem()->GetConfigurationBag())
        KX_RETURN_IF_ERROR(bag->Write(Id::idImpersonateUID, static_cast<unsigned int>(uid)));
    else
        FSLOG_ERROR("configuration bag is NULL, could not save impersonate UID");
    FSLOG(0, "impersonated with uid [%d] gid [%d]", static_cast<int>(uid), static_cast<int>(m_walkIdentity->GetGid()));
    return CKxError::Success();
}

void CScanJobFileSystemUnix::TakeBackJobFolders()
{
    if (::geteuid() != 0)
        return;
    CScanJobFileSystem* job = GetScanJobFileSystem();
    for (const std::string& folder : {job->GetResultFolderForJob(), job->GetResultFolderForSubclient(),
                                      CInstancePaths::LogFilesFolder(), CInstancePaths::TmpFolder(),
                                      CInstancePaths::JobManagerFolder()})
        if (!folder.empty())
            ReclaimFolder(folder);
}

CKxError CScanJobFileSystemUnix::RevertImpersonation()
{
    if (!m_walkIdentity)
        return CKxError::Success();
    // The walk threads gave their identity back when they ended; nothing else ever changed.
    FSLOG(0, "Reverted impersonation of uid [%d]", static_cast<int>(m_walkIdentity->GetUid()));
    m_walkIdentity.reset();
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::ImpersonateForUserCentricClient(const std::string& user)
{
    if (::geteuid() != 0)
        return CKxError(KxCode::AccessDenied, " impersonation will not be performed for non root");
    if (m_userCentric || m_walkIdentity)
        return CKxError(KxCode::InvalidParameter, "Already running as ImpersonateUser");
    if (user.empty())
        return CKxError(KxCode::InvalidParameter, "User name is empty for impersonation");
    if (!::getpwnam(user.c_str()))
        return CKxError(KxCode::NotFound, KxFormat("User [%s] doesn't exist", user.c_str()));
    const std::string path = FXPath::Append(GetScanJobFileSystem()->GetResultFolderForJob(), "UserCentricInfo.zvf");
    CKxError written = FXFile::WriteFileAtomically(path, user + "\n");
    if (written.IsError())
        return std::move(written.Push(KxFormat("Failed to write content to [%s]", path.c_str())));
    m_userCentric = true;
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::Configure_ExtentLevelBackup()
{
    CBagPtr bag = GetScanJobFileSystem()->GetConfigurationBag();
    if (!bag)
        return CKxError::Success();
    const bool extentBackup = bag->GetBool(Id::idMultiStreamExtentBackup);
    const bool preScan = bag->GetBool(Id::idPreScan);
    const bool hadoop = bag->GetBool(Id::idHadoopScan);
    if (extentBackup && !preScan && !hadoop) {
        KX_RETURN_IF_ERROR(bag->Write(Id::idHardLinkEnable, false));
        FSLOG(0, "HardLink Backup and Restore disabled for Extent Backup");
    }
    return Configure_ACLOnlyBackup();
}

CKxError CScanJobFileSystemUnix::Configure_ACLOnlyBackup()
{
    CScanJobFileSystem* job = GetScanJobFileSystem();
    CBagPtr bag = job->GetConfigurationBag();
    if (!bag || !bag->GetBool(Id::idACLOnlyBackup) || bag->GetBool(Id::idUseDataClassification))
        return CKxError::Success();
    const bool mtime = bag->GetBool(Id::idUseMTime);
    FSLOG(3, "ACL only backup: ctime [%d] mtime [%d] atime [%d] dbctime [%d]", bag->GetBool(Id::idUseCTime) ? 1 : 0,
          mtime ? 1 : 0, bag->GetBool(Id::idPreserveATime) ? 1 : 0,
          bag->GetBool(Id::idPreserveATimeThroughRegKey) ? 1 : 0);
    if (job->GetBackupType() != 1) {
        FSLOG(0, "Capture ACL info in DirChange");
        return CKxError::Success();
    }
    KX_RETURN_IF_ERROR(bag->Write(Id::idIdentifyACLOnlyItem, true));
    KX_RETURN_IF_ERROR(bag->Write(Id::idHardLinkEnable, false));
    FSLOG(0, "Scan will identify ctime changed files for ACL only backup. HardLink backup will be disabled");
    if (mtime)
        FSLOG(0, "Enable MTime change checks for ACL only backups.");
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::Configure_MigrationAssistant()
{
    FSLOG(0, "Configured AppDataContents");
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::Run()
{
    CBagPtr bag = GetScanJobFileSystem()->GetConfigurationBag();
    if (bag && bag->GetBool(Id::idPreserveATimeThroughRegKey))
        FSLOG(0, "Preserve ATime for Filesystems is enabled through Registry key");
    return GetScanJobFileSystem()->Run1();
}

CKxError CScanJobFileSystemUnix::Configure_TrueUpJob()
{
    CScanJobFileSystem* job = GetScanJobFileSystem();
    STrueUpConfig config;
    config.bag = job->GetConfigurationBag();
    if (!config.bag)
        return CKxError(KxCode::InvalidParameter, "configuration bag is NULL, could not perform Configure_TrueUpJob");
    config.jobId = job->GetJobId();
    config.backupType = job->GetBackupType();
    config.resultsFolder = job->GetResultFolderForSubclient();
    config.callback = job->GetScanJobCallback();
    config.forced = job->IsTrueUpOnDemand();
    config.afterSynthFull = job->IsAfterSynthFull();
    std::uint64_t orbundId = 0, appNumber = 0;
    if (ApplicationId::Parse(job->GetApplicationId(), orbundId, appNumber).IsSuccess())
        config.index = std::make_shared<CFileBackupIndex>(CInstancePaths::IndexFolder(), orbundId, appNumber);
    auto handle = std::make_shared<CUnixTrueUpJobHandle>(std::move(config));
    KX_RETURN_IF_FAILED(handle->InitializeTrueUpJob(), "Failed to instantiate TrueUp job handle.");
    m_trueUp = std::move(handle);
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::Prepare_TrueUpBrowseIndex()
{
    return m_trueUp ? m_trueUp->TrueUpBrowseIndex() : CKxError::Success();
}

CKxError CScanJobFileSystemUnix::Cleanup_ProcessTrueUp()
{
    if (!m_trueUp)
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_trueUp->ProcessTrueUpToCollect(), "Failed to create TrueUp Collect file");
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::Cleanup_MarkTrueUpComplete()
{
    return m_trueUp ? m_trueUp->MarkTrueUpJobComplete() : CKxError::Success();
}

CKxError CScanJobFileSystemUnix::Cleanup_PostCleanup() { return PrintStaleMountList(); }

CKxError CScanJobFileSystemUnix::PrintStaleMountList()
{
    const std::vector<std::string> stale = GetStaleMounts();
    if (stale.empty())
        return CKxError::Success();
    FSLOG(0, "Stale Mount points");
    for (const std::string& mount : stale)
        FSLOG(0, "Mount point [ %s ]", mount.c_str());
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::ProcessScanContent_WriteInformation()
{
    CKxError preScan = WritePreScanFile();
    if (preScan.IsError())
        return std::move(preScan.Push(KxFormat("WritePreScanFile Failed due to %s", preScan.Message().c_str())));
    CKxError view = WriteScanViewFile();
    if (view.IsError())
        return std::move(view.Push(KxFormat("WriteScanViewFile Failed due to %s", view.Message().c_str())));
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::WritePreScanFile() { return CKxError::Success(); }

CKxError CScanJobFileSystemUnix::WriteScanViewFile()
{
    CScanJobFileSystem* job = GetScanJobFileSystem();
    CBagPtr bag = job->GetConfigurationBag();
    if (bag && bag->GetBool(Id::idFSIScanEngine))
        return CKxError::Success();
    if (!job->GetFileNameFactory() || !job->GetSubclientContent())
        return CKxError(KxCode::InvalidParameter, "The scan view needs the job's names and content");
    const CScanContentConfiguration& content = *job->GetSubclientContent()->GetScanContentConfiguration();
    using L = CScanContentConfiguration;
    static const std::pair<L::EList, const char*> kSections[] = {
        {L::ScanContent, "ClientContent||F||"},       {L::ScanContentExceptions, "Exception||F||"},
        {L::NewContent, "NewClientContent||F||"},     {L::Filters, "ClientFilters||F||"},
        {L::FilterExceptions, "ClientFilters||E||"},  {L::SystemFilters, "SystemFilters||F||"},
        {L::SpecialContentFilters, "ClientFilters||S||"},
    };
    std::string text;
    for (const auto& [list, prefix] : kSections)
        for (const std::string& entry : content.List(list))
            text += prefix + entry + "\n";
    const std::string path = job->GetFileNameFactory()->GetContentFile();
    // Written anew by every job before anything reads it, so a restart of the machine that lost
    // it loses nothing: not synced (a sync costs every job start several milliseconds).
    KX_RETURN_IF_ERROR(FXFile::WriteFileAtomically(path, text, FXFile::EDurability::Volatile));
    FSLOG(0, "Scan content information is written to scan view file : %s successfully", path.c_str());
    return CKxError::Success();
}
