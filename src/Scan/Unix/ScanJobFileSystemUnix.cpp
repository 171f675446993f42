#include "Scan/Unix/ScanJobFileSystemUnix.h"

#include "Agent/ApplicationId.h"
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

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Id = SXScannerConfigurationBagId;

namespace {
constexpr mode_t kImpersonationMask = 022;

// The user database entry of `uid`; false when there is none.
bool LookUpUser(uid_t uid, std::string& name, gid_t& gid)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    name = found->pw_name;
    gid = found->pw_gid;
    return true;
}

// Adds `bits` to the mode of `path` (never removes any); logs what it did.
void AddModeBits(const std::string& path, mode_t bits)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || S_ISLNK(status.st_mode))
        return;
    const mode_t mode = status.st_mode & 07777;
    if ((mode & bits) == bits)
        return;
    FSLOG(3, "setting [%o] permission for [%s]", static_cast<unsigned>(mode | bits), path.c_str());
    const int result = ::chmod(path.c_str(), mode | bits);
    FSLOG(3, "setting permission [%o] for [%s] ret [%d]", static_cast<unsigned>(mode | bits), path.c_str(), result);
}

// Read-write-execute for others on `folder`, read-write on its files.
void OpenFolderForOthers(const std::string& folder)
{
    if (folder.empty() || !FXFile::IsDirectory(folder))
        return;
    FSLOG(0, "Setting rwx on %s", folder.c_str());
    AddModeBits(folder, S_IRWXO);
    struct SCloseDir {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };
    std::unique_ptr<DIR, SCloseDir> dir(::opendir(folder.c_str()));
    if (!dir)
        return;
    while (dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = FXPath::Append(folder, name);
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
            AddModeBits(path, S_IROTH | S_IWOTH);
    }
}

// Execute for others on every folder above `path`, so that the user can reach it.
void OpenWayTo(const std::string& path)
{
    std::string folder = FXPath::Parent(path);
    while (!folder.empty()) {
        struct stat status {};
        if (::stat(folder.c_str(), &status) == 0 && (status.st_mode & S_IXOTH) == 0) {
            FSLOG(0, "Setting x on %s for other", folder.c_str());
            AddModeBits(folder, S_IXOTH);
        }
        if (folder == "/")
            break;
        folder = FXPath::Parent(folder);
    }
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
        std::string name;
        gid_t gid = 0;
        const long long centricUid = CScannerSettings::GetInteger(*bag, Id::idUserCentricClientImpersonateUid, -1);
        if (centricUid >= 0)
            (void)LookUpUser(static_cast<uid_t>(centricUid), name, gid);
        return ImpersonateForUserCentricClient(name);
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

void CScanJobFileSystemUnix::SetPermissionForImpersonatedUser(uid_t, gid_t)
{
    CScanJobFileSystem* job = GetScanJobFileSystem();
    std::vector<std::string> folders = {job->GetResultFolderForJob(), job->GetResultFolderForSubclient(),
                                        CInstancePaths::LogFilesFolder(), CInstancePaths::TmpFolder(),
                                        CInstancePaths::JobManagerFolder()};
    FSLOG(0, "JR path [%s]", job->GetResultFolderForJob().c_str());
    for (const std::string& folder : folders) {
        if (folder.empty())
            continue;
        OpenWayTo(folder);
        OpenFolderForOthers(folder);
    }
}

CKxError CScanJobFileSystemUnix::ImpersonateUser()
{
    FSTRACE();
    uid_t uid = 0;
    bool impersonate = false;
    KX_RETURN_IF_ERROR(GetImpersonationOption(uid, impersonate));
    if (!impersonate)
        return CKxError::Success();
    if (m_impersonating)
        return CKxError(KxCode::InvalidParameter, "Already running as ImpersonateUser");

    std::string name;
    gid_t gid = 0;
    if (!LookUpUser(uid, name, gid))
        return CKxError(KxCode::NotFound, KxFormat("Error impersonating user. User ID %d not found in system",
                                                   static_cast<int>(uid)));
    SetPermissionForImpersonatedUser(uid, gid);

    m_startUid = ::geteuid();
    m_startGid = ::getegid();
    const int groupCount = ::getgroups(0, nullptr);
    m_startGroups.assign(groupCount > 0 ? static_cast<size_t>(groupCount) : 0, 0);
    if (groupCount > 0 && ::getgroups(groupCount, m_startGroups.data()) < 0)
        m_startGroups.clear();

    if (::initgroups(name.c_str(), gid) != 0)
        return CKxError::FromErrno(errno, KxFormat("Error impersonating user. Failed to init groups for uid %d",
                                                   static_cast<int>(uid)));
    // Only the effective ids change: the real ids stay those of the start, so that the process
    // can switch back after the walk.
    if (::setregid(static_cast<gid_t>(-1), gid) != 0 || ::setreuid(static_cast<uid_t>(-1), uid) != 0) {
        const int error = errno;
        (void)::setregid(static_cast<gid_t>(-1), m_startGid);
        (void)::setgroups(m_startGroups.size(), m_startGroups.data());
        return CKxError::FromErrno(error, KxFormat("Error [%d] impersonating user with uid %d and gid %d", error,
                                                   static_cast<int>(uid), static_cast<int>(gid)));
    }
    m_savedMask = ::umask(kImpersonationMask);
    m_impersonating = true;
    m_impersonatedUid = uid;
    m_impersonatedGid = gid;

    if (CBagPtr bag = GetScanJobFileSystem()->GetConfigurationBag())
        KX_RETURN_IF_ERROR(bag->Write(Id::idImpersonateUID, static_cast<unsigned int>(uid)));
    else
        FSLOG_ERROR("configuration bag is NULL, could not save impersonate UID");
    FSLOG(0, "impersonated with uid [%d] gid [%d]", static_cast<int>(uid), static_cast<int>(gid));
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::RevertImpersonation()
{
    if (!m_impersonating)
        return CKxError::Success();
    const bool reverted = ::setreuid(static_cast<uid_t>(-1), m_startUid) == 0 &&
                          ::setregid(static_cast<gid_t>(-1), m_startGid) == 0 &&
                          ::setgroups(m_startGroups.size(), m_startGroups.data()) == 0;
    ::umask(m_savedMask);
    if (!reverted)
        FSLOG_ERROR("error reverting from impersonation, errno %d", errno);
    else
        FSLOG(0, "Reverted impersonation of uid [%d]", static_cast<int>(m_impersonatedUid));
    m_impersonating = false;
    return CKxError::Success();
}

CKxError CScanJobFileSystemUnix::ImpersonateForUserCentricClient(const std::string& user)
{
    if (::geteuid() != 0)
        return CKxError(KxCode::AccessDenied, " impersonation will not be performed for non root");
    if (m_userCentric || m_impersonating)
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
