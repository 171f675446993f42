#include "Scan/ScanJobFileSystem.h"

#include "Agent/ApplicationId.h"
#include "Agent/BackupJobClient.h"
#include "Agent/EvEvent.h"
#include "Agent/InstancePaths.h"
#include "Agent/XJob.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/DecimalText.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Base/OutputSync.h"
#include "CollectFile/CollectEvidence.h"
#include "CollectFile/FlatCollectFile.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "Engine/ContentMapper.h"
#include "Engine/ScanArbiter.h"
#include "Journal/JournalSyncClient.h"
#include "Scan/FileNameFactory.h"
#include "Scan/ChangeJournalScan.h"
#include "Scan/FileSystemPostProcessResultFolder.h"
#include "Scan/IPostProcessDirChange.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/JobAliveReporter.h"
#include "Scan/JournalFolderPlan.h"
#include "Scan/PostProcessCollectFiles.h"
#include "Scan/ProcessCommitFiles.h"
#include "Scan/ProcessFailedFiles.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScanJobFileSystemPrivate.h"
#include "Scan/ScanProgress.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/ScannerSettings.h"
#include "Scan/SplitCollectFiles.h"
#include "Scan/SubclientContent.h"
#include "Scan/Unix/ScanJobFileSystemUnix.h"
#include "Scan/ZvErrorControl.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace Id = SXScannerConfigurationBagId;

namespace {
constexpr unsigned kFullBackup = 1;
constexpr long kEmptyContent = 4306;
constexpr int kPlatformTypeUnix = 4;

using DecimalText::ParseSigned;
using DecimalText::ParseUnsigned;

CKxError BadOption(const char* name, const std::string& value)
{
    return CKxError(KxCode::InvalidParameter, KxFormat("GetOption failed, Option=%s, value [%s]", name, value.c_str()));
}

void RaiseEvent(std::uint32_t id, int severity, const std::string& message)
{
    CKxError raised = EvEvent::Raise(id, severity, message);
    if (raised.IsError())
        FSLOG_ERROR("%s", raised.AsString().c_str());
}

long long BagInteger(const CBagPtr& bag, const char* key, long long fallback = 0)
{
    return bag ? CScannerSettings::GetInteger(*bag, key, fallback) : fallback;
}
}  // namespace

CScanJobFileSystem::CScanJobFileSystem() = default;

CScanJobFileSystem::~CScanJobFileSystem()
{
    // A clean-up that stopped early leaves the alive thread running; it must not outlive the job.
    if (m_progress)
        m_progress->Stop();
    (void)EndAliveThread();
    // The record belongs to this job; a later job in the process makes its own.
    if (m_dirChangeIndex && IncrementalDirChange::GetIndex() == m_dirChangeIndex)
        IncrementalDirChange::Reset();
}

std::string CScanJobFileSystem::AsString() const { return CScanJob::AsString() + "/FileSystem"; }

CBagPtr CScanJobFileSystem::GetConfigurationBag() const
{
    if (m_scannerOptions)
        return m_scannerOptions->GetConfigurationBag();
    if (m_callback) {
        std::shared_ptr<CScannerOptions> options;
        if (m_callback->GetScannerOptionsInstance(options).IsSuccess() && options)
            return options->GetConfigurationBag();
    }
    return nullptr;
}

CBag& CScanJobFileSystem::CommandLineBag()
{
    if (CBagPtr bag = GetConfigurationBag())
        return *bag;
    return m_commandLineValues;
}

std::shared_ptr<CScanJobFileSystemPrivate> CScanJobFileSystem::MakePrivate()
{
    return std::make_shared<CScanJobFileSystemUnix>(this);
}

CKxError CScanJobFileSystem::InitializePrivate()
{
    if (!m_private)
        m_private = MakePrivate();
    if (!m_private)
        return CKxError(KxCode::NotEnoughMemory, "Failed to create the private part of the file-system job");
    return CKxError::Success();
}

// ---------------------------------------------------------------------------------------------
// Command line

CKxError CScanJobFileSystem::ProcessCommandLine(const CCommandLineArgumentsPtr& args)
{
    FSTRACE();
    KX_RETURN_IF_ERROR(CScanJob::ProcessCommandLine(args));
    m_args = args;
    KX_RETURN_IF_ERROR(InitializePrivate());
    KX_RETURN_IF_ERROR(m_private->FollowMountPoints(args));
    CBag& bag = CommandLineBag();
    std::string value;

    if (args->GetOption("ab", value)) {
        long long number = 0;
        m_useArchiveBit = ParseSigned(value, number) && number != 0;
    } else {
        m_useArchiveBit = false;
    }

    m_referenceTime = 0;
    if (m_backupType != kFullBackup && args->GetOption("ref", value)) {
        unsigned long long seconds = 0;
        if (!ParseUnsigned(value, seconds))
            return BadOption("ref", value);
        m_referenceTime = seconds;
    }

    if (args->GetOption("adhoc")) {
        m_adHoc = true;
        KX_RETURN_IF_ERROR(bag.Write(Id::idOnDemandAdHocBackupJob, true));
        KX_RETURN_IF_ERROR(bag.Write(Id::idOnDemandAdHocPrevJobRefrenceTime,
                                     static_cast<unsigned long long>(m_referenceTime)));
        const std::string referenceText = CTimeStamp(static_cast<std::int64_t>(m_referenceTime)).AsLocalString();
        FSLOG(0, "=== JOB PreViousRefrence time %s ===", referenceText.c_str());
        FSLOG(0, "================= %s JOB =====================", "adhoc");
        FSLOG(0, "=== JOB REFERENCE TIME is %s ===", referenceText.c_str());
        FSLOG(0, "FollowMountPoints=[%d]", m_followMountPoints ? 1 : 0);
    }

    if (args->GetOption("seb")) {
        m_skipEmptyIncremental = true;
        FSLOG(0, "Will skip incremental backup if there is no content to backup");
    }
    if (args->GetOption("aftersynth")) {
        m_afterSynthFull = true;
        KX_RETURN_IF_ERROR(bag.Write(Id::idAfterSynthFull, true));
        FSLOG(0, "This job running after synthetic full job");
    }
    if (args->GetOption("incimage")) {
        m_incrementalImage = true;
        FSLOG(0, "incremental image mode is set in command line");
    }
    if (args->GetOption("CommitJobID")) {
        FSLOG(0, "CommitJobID is set");
        long long jobId = 0, level = 0;
        std::string levelText;
        if (args->GetOption("CommitJobID", value) && ParseSigned(value, jobId) &&
            args->GetOption("CommitJobBkupLevel", levelText) && ParseSigned(levelText, level)) {
            m_commitJobId = jobId;
            m_commitJobBackupLevel = static_cast<long>(level);
            FSLOG(0, "CommitJobID is also set = %lld, backup type = %ld", m_commitJobId, m_commitJobBackupLevel);
        }
    }

    int clientAppType = 0;
    if (args->GetOption("cat", value)) {
        long long number = 0;
        if (!ParseSigned(value, number))
            return BadOption("cat", value);
        clientAppType = static_cast<int>(number);
        KX_RETURN_IF_ERROR(bag.Write(Id::idClientAppType, clientAppType));
    }
    // Network-attached storage clients (client app types 2 and 10) are walked through their
    // share by the same engine; the bag records that the snapshot-based scan applies.
    {
        std::uint32_t disabled = 0;
        std::uint64_t orbund = 0, appNumber = 0;
        if (ApplicationId::Parse(m_applicationId, orbund, appNumber).IsError()) {
            FSLOG(0, "ApplicationId invalid, expected <orbund-id>:<application-number>, ApplicationId=%s",
                  m_applicationId.c_str());
        } else if (ZVPlatformInfo::getNumber(CScannerSettings::kSection, "nDisableNASSnapScan", disabled) &&
                   disabled != 0) {
            FSLOG(0, "[%s] key is set. Not using NAS snap scan", "nDisableNASSnapScan");
        } else if (clientAppType == 2 || clientAppType == 10) {
            FSLOG(0, "This is NAS/Network Share client [%d]. Will launch NAS Scan Engine", clientAppType);
            KX_RETURN_IF_ERROR(bag.Write(Id::idNASSnapSupported, true));
            KX_RETURN_IF_ERROR(bag.Write(Id::idClientAppType, clientAppType));
        } else {
            FSLOG(0, "Not using NAS scan method, %s", KxFormat("client app type [%d]", clientAppType).c_str());
        }
    }

    if (args->GetOption("jilf", value)) {
        unsigned long long jobId = 0;
        if (!ParseUnsigned(value, jobId))
            return BadOption("jilf", value);
        KX_RETURN_IF_ERROR(bag.Write(Id::idLastJobWithIncompleteFiles, jobId));
        FSLOG(0, "Last job with incomplete large file was [%s].", value.c_str());
    }
    long long lastFull = 0, lastIncremental = 0;
    if (args->GetOption("lf", value)) {
        if (!ParseSigned(value, lastFull))
            return BadOption("lf", value);
        KX_RETURN_IF_ERROR(bag.Write(Id::idLastFULLJobID, lastFull));
        FSLOG(0, "Last full job id was [%s].", value.c_str());
    }
    if (args->GetOption("li", value)) {
        if (!ParseSigned(value, lastIncremental))
            return BadOption("li", value);
        KX_RETURN_IF_ERROR(bag.Write(Id::idLastIncrJobID, lastIncremental));
        FSLOG(0, "Last incr job id was [%s].", value.c_str());
    }
    if (args->GetOption("ls", value)) {
        long long lastSynthFull = 0;
        if (!ParseSigned(value, lastSynthFull))
            return BadOption("ls", value);
        KX_RETURN_IF_ERROR(bag.Write(Id::idLastSynthFullJobID, lastSynthFull));
        FSLOG(0, "Last synthfull job id was [%s].", value.c_str());
    }
    // A tie counts as incremental: the newest record then is the incremental's.
    m_lastJobWasFull = lastFull > lastIncremental;
    const long long lastSuccessful = m_lastJobWasFull ? lastFull : lastIncremental;
    m_lastSuccessfulJobId = static_cast<std::uint64_t>(lastSuccessful);
    KX_RETURN_IF_ERROR(bag.Write(Id::idLastSuccessfulJobID, lastSuccessful));
    KX_RETURN_IF_ERROR(bag.Write(Id::idIsLastJobFull, m_lastJobWasFull));

    if (args->GetOption("diDAFS")) {
        m_distributedMode = true;
        KX_RETURN_IF_ERROR(bag.Write(Id::idDistributedFSMode, true));
        FSLOG(0, "This is a Distributed(Multi-Node) backup job");
    }
    if (args->GetOption("TrueUp")) {
        m_trueUpOnDemand = true;
        FSLOG(0, "This job is TrueUp on-demand");
    }
    if (args->GetOption("et", value)) {
        if (!ParseSigned(value, m_phaseElapsedTime))
            return BadOption("et", value);
        FSLOG(0, "Phase elapsed time=[%lld]", m_phaseElapsedTime);
    }
    return CKxError::Success();
}

// ---------------------------------------------------------------------------------------------
// Configuration

CKxError CScanJobFileSystem::Configure()
{
    FSTRACE();
    m_jobStart = std::chrono::steady_clock::now();
    KX_RETURN_IF_ERROR(InitializePrivate());
    KX_RETURN_IF_FAILED(Configure_PreConfig(), "Preconfiguration failed");
    KX_RETURN_IF_ERROR(CScanJob::Configure());
    // The backup phase reads every collect file it finds: what an earlier job left and this one
    // writes anew must go before this job writes anything.
    m_fileNameFactory->DeleteSubclientFiles();
    CTimeStamp referenceTime;
    KX_RETURN_IF_ERROR(Configure_JobReferenceTime(referenceTime));
    KX_RETURN_IF_ERROR(Configure_ImpersonateOption());
    KX_RETURN_IF_ERROR(Configure_ArchiveBit());
    KX_RETURN_IF_ERROR(Configure_PreformanceCouters());
    KX_RETURN_IF_ERROR(Configure_InitializeSubclientContent(referenceTime));
    KX_RETURN_IF_ERROR(Configure_SubclientContentParameters());
    KX_RETURN_IF_ERROR(Configure_Profile());
    KX_RETURN_IF_ERROR(Configure_SubclientContent());
    KX_RETURN_IF_ERROR(Configure_FileServerScan());
    KX_RETURN_IF_ERROR(Configure_MigrationAssistant());
    KX_RETURN_IF_ERROR(Configure_SyncContent());
    KX_RETURN_IF_ERROR(Configure_LaptopClient());
    KX_RETURN_IF_ERROR(Configure_IncrImageMode());
    KX_RETURN_IF_ERROR(Configure_TrueUpJob());
    KX_RETURN_IF_ERROR(Configure_PostConfig());
    KX_RETURN_IF_ERROR(Configure_ExtentLevelBackup());
    KX_RETURN_IF_ERROR(PostConfig_MaxFileCTimeOption());
    return Configure_ScanFailureErrorControl();
}

CKxError CScanJobFileSystem::Configure_ScanFailureErrorControl()
{
    return m_callback->ConfigureScanFailureConsumerErrorCtrl(m_applicationId);
}

CKxError CScanJobFileSystem::Configure_PreConfig()
{
    if (!m_callback)
        return CKxError(KxCode::InvalidParameter, KxFormat("ScanJobCallback is not set, ScanJob=%s", AsString().c_str()));
    KX_RETURN_IF_ERROR(m_callback->GetScannerOptionsInstance(m_scannerOptions));
    if (!m_scannerOptions || !m_scannerOptions->GetConfigurationBag())
        return CKxError(KxCode::ObjectNotFound, "Scanner options object not found.");
    CBag& bag = *m_scannerOptions->GetConfigurationBag();
    for (const std::string& key : m_commandLineValues.Keys()) {
        std::any value;
        if (m_commandLineValues.ReadAny(key, value).IsSuccess())
            KX_RETURN_IF_ERROR(bag.WriteAny(key, std::move(value)));
    }

    KX_RETURN_IF_ERROR(bag.Write(Id::idFollowMount, m_followMountPoints));
    KX_RETURN_IF_ERROR(bag.Write("ReferenceTime", static_cast<unsigned long long>(m_referenceTime)));

    struct SSwitch {
        const char* setting;
        const char* key;
        std::uint32_t offValue;  // the value that makes the switch false
    };
    static const SSwitch kSwitches[] = {
        {"bDisableCompleteEmptyJobInScan", Id::idSkipEmptyIncrementalBackup, 1},
        {"nForceInsesetiveFiltersForWildcard", Id::idForceInsensitiveFilterForWildCard, 0},
        {"nFileNameDebugEnabled", Id::idFileScanDebugEnabled, 0},
    };
    for (const SSwitch& entry : kSwitches) {
        std::uint32_t value = 0;
        if (!ZVPlatformInfo::getNumber(CScannerSettings::kSection, entry.setting, value))
            continue;
        // "bDisableCompleteEmptyJobInScan" = 1 turns the completion off; the others turn on.
        const bool on = entry.offValue == 1 ? value != 1 : value != 0;
        FSLOG(0, "Registry key exist, %s=[%s]", entry.setting, on ? "true" : "false");
        KX_RETURN_IF_ERROR(bag.Write(entry.key, on));
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_JobReferenceTime(CTimeStamp& referenceTime)
{
    CBagPtr bag = GetConfigurationBag();
    referenceTime = CTimeStamp(static_cast<std::int64_t>(m_referenceTime));
    // The evaluator always compares with the job's reference time; incremental-image mode only
    // stops the question for content added since then.
    if (m_callback)
        m_callback->SetReferenceTime(static_cast<std::uint32_t>(m_referenceTime));
    if (bag && bag->GetBool(Id::idIncrImageMode))
        referenceTime = CTimeStamp();
    if (referenceTime.Seconds() != 0)
        FSLOG(0, "This backup will query for new subclient contents");
    else
        FSLOG(0, "%s will not query for new subclient content",
              m_referenceTime == 0 ? "Full backup" : "Backup with Incremental Image Mode");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_ImpersonateOption()
{
    // A user id on the command line must be a number; the switch itself happens at the end of
    // configuration, when the job knows whether it impersonates at all.
    std::string uid;
    if (m_args && m_args->GetOption("uid", uid)) {
        unsigned long long value = 0;
        if (!ParseUnsigned(uid, value) || value > 0xFFFFFFFEull)
            return CKxError(KxCode::InvalidParameter, KxFormat("error getting uid from command line [%s]", uid.c_str()));
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_ArchiveBit()
{
    CBagPtr bag = GetConfigurationBag();
    // This agent's subclients carry no archive-bit choice: the subclient's answer is "off".
    m_useArchiveBit = false;
    std::uint32_t setting = 0;
    if (ZVPlatformInfo::getNumber(CScannerSettings::kSection, "nUseArchiveBit", setting))
        m_useArchiveBit = setting == 1;
    const int clientAppType = static_cast<int>(BagInteger(bag, Id::idClientAppType));
    if (m_callback && m_callback->IsFileServerClientScan(clientAppType))
        m_useArchiveBit = false;
    FSLOG(0, "ArchiveBit=[%d]", m_useArchiveBit ? 1 : 0);
    return bag ? bag->Write(Id::idUseArchiveBit, m_useArchiveBit) : CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_PreformanceCouters() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Configure_InitializeSubclientContent(CTimeStamp referenceTime)
{
    m_subclientContent = std::make_shared<CSubclientContent>(m_clientName, m_applicationId, m_backupType,
                                                             GetConfigurationBag(), referenceTime);
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_SubclientContentParameters()
{
    if (!m_callback)
        return CKxError(KxCode::InvalidParameter, "ScanJobCallback is not set");
    bool isDefault = false;
    ApplicationId application(m_applicationId);
    if (SubclientPtr subclient = application.getSubclient())
        (void)subclient->isDefaultSubclient(isDefault);
    FSLOG(0, "This %s default subclient", isDefault ? "is" : "is not");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_Profile()
{
    CBagPtr bag = GetConfigurationBag();
    if (!bag || !bag->GetBool(Id::idLaptopClient))
        return CKxError::Success();
    FSLOG(0, "This is a Laptop Backup");
    return GetListOfProfilesToBackup();
}

CKxError CScanJobFileSystem::GetListOfProfilesToBackup() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Configure_SubclientContent()
{
    FSTRACE();
    if (!m_subclientContent)
        return CKxError(KxCode::InvalidParameter, "Subclient content is not initialized");
    CBagPtr bag = GetConfigurationBag();
    CKxError loaded = m_subclientContent->Process();
    if (loaded.IsError()) {
        FSLOG_ERROR("Received error getting content. Error [%s]", loaded.AsString().c_str());
        KX_RETURN_IF_ERROR(m_private->CheckScanContentError(loaded));
        if (loaded.Code() == kEmptyContent) {
            FSLOG(0, "Received empty content");
            if (m_adHoc && bag && bag->GetBool(Id::idOnDemandAdHocCriteriaBased)) {
                const char* message = "Criteria based archiving job with no content received. Marking the job as success";
                FSLOG(0, "%s", message);
                RaiseEvent(kEventCriteriaJobWithoutContent, EvEvent::Information, message);
                return CKxError::Success();
            }
            RaiseEvent(kEventEmptyContent, EvEvent::Major, "Received empty content for the subclient");
            return loaded;
        }
        if (loaded.Code() != KxCode::NotFound)
            return loaded;
        KX_RETURN_IF_ERROR(m_private->ProcessSCContentFailedFile());
    }
    bool changed = false;
    if (m_fileNameFactory)
        (void)m_subclientContent->HasSubclientContentChanged(m_fileNameFactory->GetContentFile(), changed);
    FSLOG(0, "Subclient content %s changed", changed ? "has" : "has not");

    if (bag && m_adHoc && bag->GetBool(Id::idOnDemandAdHocCriteriaBased)) {
        FSLOG(0, "Disabling Follow mount points for Criteria based Adhoc job");
        m_followMountPoints = false;
        KX_RETURN_IF_ERROR(bag->Write(Id::idFollowMount, false));
    }
    std::uint32_t forceTrueUp = 0;
    if (bag && ZVPlatformInfo::getNumber(CScannerSettings::kSection, "nForceFileServerTrueUp", forceTrueUp) &&
        forceTrueUp != 0) {
        FSLOG(0, "Forcing FileServer TrueUp based on the registry key value");
        KX_RETURN_IF_ERROR(bag->Write(Id::idFileServerTrueUp, true));
        FSLOG(0, "Force FileServer TrueUp is set to true");
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_FileServerScan()
{
    const std::string folder = m_subclientResultsFolder;
    bool found = false;
    for (const char* name : {"FSDBTmp", "FSDBInc"}) {
        const std::string pattern = KxFormat("*%s*", name);
        std::vector<std::string> names;
        CKxError listed = FXFile::ListMatchingFiles(folder, pattern, names);
        if (listed.IsError()) {
            FSLOG_ERROR("Could not find *%s* matching files in [%s]. Error [%s]", name, folder.c_str(),
                        listed.AsString().c_str());
            continue;
        }
        if (names.empty())
            continue;
        found = true;
        CKxError deleted = FXFile::DeleteMatchingFiles(folder, pattern);
        if (deleted.IsError())
            FSLOG_ERROR("Could not delete *%s* matching files in [%s]. Error [%s]", name, folder.c_str(),
                        deleted.AsString().c_str());
    }
    if (found) {
        FSLOG(0, "Found database files during backup related to Fileserver backups. Deleting them and forcing TrueUp");
        if (CBagPtr bag = GetConfigurationBag())
            KX_RETURN_IF_ERROR(bag->Write(Id::idFileServerTrueUp, true));
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_MigrationAssistant()
{
    CBagPtr bag = GetConfigurationBag();
    if (!bag || !bag->GetBool(Id::idMigrationAssistantUserSettings))
        return CKxError::Success();
    FSLOG(0, "Configured MigrationAssistant");
    return m_private->Configure_MigrationAssistant();
}

CKxError CScanJobFileSystem::Configure_SyncContent() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Configure_LaptopClient()
{
    CBagPtr bag = GetConfigurationBag();
    if (bag && bag->GetBool(Id::idLaptopClient))
        FSLOG(0, "Initialize Laptop2JobStatus");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_IncrImageMode()
{
    std::uint32_t value = 0;
    if (ZVPlatformInfo::getNumber(CScannerSettings::kSection, "UseIncrementalImageMode", value) && value != 0) {
        m_incrementalImage = true;
        FSLOG(0, "Incremental image mode is enabled via registry");
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Configure_TrueUpJob()
{
    const long long jobType = BagInteger(GetConfigurationBag(), Id::idJobType);
    if (jobType != 2 && jobType != 5) {
        FSLOG(0, "JobType [%u] doesn't support TrueUp", static_cast<unsigned>(jobType));
        return CKxError::Success();
    }
    return m_private->Configure_TrueUpJob();
}

CKxError CScanJobFileSystem::Configure_PostConfig()
{
    KX_RETURN_IF_ERROR(StartAliveThread());
    KX_RETURN_IF_ERROR(m_private->Configure_PostConfig());
    return m_private->ImpersonateUser();
}

CKxError CScanJobFileSystem::Configure_ExtentLevelBackup() { return m_private->Configure_ExtentLevelBackup(); }

CKxError CScanJobFileSystem::PostConfig_MaxFileCTimeOption()
{
    CBagPtr bag = GetConfigurationBag();
    if (!bag || !m_callback)
        return CKxError::Success();
    bool tracking = bag->GetBool(Id::idUseFileCtimeAsRefTime);
    if (tracking) {
        const long long jobType = BagInteger(bag, Id::idJobType);
        if (jobType != 5) {
            FSLOG(0, "disabling nUseFileCtimeAsRefTime as it is not a regular FS backup");
            tracking = false;
        } else if (m_distributedMode || bag->GetBool(Id::idGpfsScan) || m_adHoc ||
                   bag->GetBool(Id::idFSIScanEngine)) {
            FSLOG(0, "disabling nUseFileCtimeAsRefTime as this is a distributed job or GPFS or AdHoc or Scan "
                     "Optimization is enabled");
            tracking = false;
        }
        if (!tracking)
            KX_RETURN_IF_ERROR(bag->Write(Id::idUseFileCtimeAsRefTime, false));
    }
    m_callback->SetMaxCtimeTracking(tracking);
    return CKxError::Success();
}

// ---------------------------------------------------------------------------------------------
// Preparation

CKxError CScanJobFileSystem::Prepare()
{
    FSTRACE();
    CBagPtr bag = GetConfigurationBag();
    if (!bag || !m_fileNameFactory)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    const bool staleCheck = bag->GetBool(Id::idStaleFSCheckRequired);
    FSLOG(3, "Stale file system check %s", staleCheck ? "required" : "not required");

    KX_RETURN_IF_ERROR(Prepare_AdHocJob());
    KX_RETURN_IF_ERROR(Prepare_CommitJobs());

    if (bag->GetBool(Id::idFSIScanEngine)) {
        for (const std::string& path :
             {m_fileNameFactory->ConsolidatedDirChange(0), m_fileNameFactory->ConsolidatedDirChangeTemp()}) {
            if (!FXFile::Exists(path))
                continue;
            CKxError removed = FXFile::Remove(path);
            if (removed.IsSuccess())
                FSLOG(0, "Successfully deleted DirChange File [%s]", path.c_str());
            else
                FSLOG_ERROR("Unable to delete [%s]. Error [%s]", path.c_str(), removed.AsString().c_str());
        }
    }

    if (m_backupType == kFullBackup && m_lastSuccessfulJobId != 0) {
        FSLOG(0, "Since the job type is FULL, we are forcing FileServer TrueUp to recieve deleted items");
        KX_RETURN_IF_ERROR(bag->Write(Id::idFileServerTrueUp, true));
    }
    FSLOG(0, "Last job was %sa full job", m_lastJobWasFull ? "" : "not ");

    // After a synthetic full the next incremental compares with the record the synthetic full
    // consolidated under the incremental name.
    if (m_afterSynthFull && m_backupType != kFullBackup && m_lastJobWasFull) {
        const std::string from = m_fileNameFactory->ConsolidatedDirChange(2);
        const std::string to = m_fileNameFactory->ConsolidatedDirChange(1);
        if (FXFile::Exists(from)) {
            FSLOG(0, "AfterSynthFull flag ON, renaming [%s] to [%s]", from.c_str(), to.c_str());
            CKxError renamed = FXFile::Rename(from, to);
            if (renamed.IsError())
                return std::move(renamed.Push(
                    KxFormat("Failed to rename [%s] to [%s], error=%s", from.c_str(), to.c_str(),
                             renamed.Message().c_str())));
        }
    }

    KX_RETURN_IF_FAILED(Prepare_TrueUpBrowseIndex(), "TrueUp index browse failed.");
    KX_RETURN_IF_ERROR(PrepareDirChange(*bag));
    KX_RETURN_IF_ERROR(Prepare_ChangeJournal());

    KX_RETURN_IF_ERROR(m_private->Prepare_NativeSnap());
    if (bag->GetBool(Id::idAutoMountRequired))
        KX_RETURN_IF_FAILED(m_private->Prepare_FileShareAutoMount(), "Prepare_FileShareAutoMount failed");
    KX_RETURN_IF_ERROR(m_private->Prepare_DistributedOVA());
    if (bag->GetBool(Id::idNutanixAFS))
        KX_RETURN_IF_ERROR(Prepare_NutanixAFSBackup());
    return Prepare_FileServerScan();
}

CKxError CScanJobFileSystem::PrepareDirChange(const CBag& bag)
{
    if (!m_callback) {
        FSLOG(0, "m_ptrScanJobCallback is not initialized, not setting previous job dir change");
        return CKxError::Success();
    }
    const std::string current = m_fileNameFactory->ConsolidatedDirChangeTemp();
    KX_RETURN_IF_FAILED(IncrementalDirChange::Init(m_jobId, current, m_callback->GetContentMapper(),
                                                   bag.GetBool(Id::idTrueUpQualified), true, false),
                        "failed to initialize incremental DirChange");
    m_dirChangeIndex = IncrementalDirChange::GetIndex();
    IncrementalDirChange::SetMaxPathLength(IncrementalDirChange::kDefaultMaxPathLength);
    IncrementalDirChange::SetACLOnlyBackup(bag.GetBool(Id::idACLOnlyBackup));

    // The newest record is the last full's when that job came last, else the last
    // incremental's; a differential selects against the last full's and finds deletions
    // against the newest.
    const std::string previous = m_fileNameFactory->ConsolidatedDirChange(m_lastJobWasFull ? kFullBackup : 2);
    const std::string reference = m_backupType == 4 ? m_fileNameFactory->ConsolidatedDirChange(kFullBackup) : previous;
    m_callback->SetDirChangeRecordPaths(previous, reference);
    const bool full = m_backupType == kFullBackup;
    if (!full || bag.GetBool(Id::idFileServerTrueUp)) {
        // A non-full job follows a job that left a record; the job manager names that job, or
        // at least the time it ran.
        const bool previousJobKnown = IsPreviousJobKnown();
        constexpr const char* kTakesEveryItem =
            "this job takes every item, as a full would, and reports no deleted items";
        if (!FXFile::Exists(reference)) {
            FSLOG(0, "previous DirChange [%s] not found", reference.c_str());
            if (!full && previousJobKnown)
                IncrementalDirChange::RaisePreviousRecordUnusable(reference, "it is missing", kTakesEveryItem);
        } else if (CKxError loaded = IncrementalDirChange::SetPreviousBackingFile(reference); loaded.IsError()) {
            // A damaged record must not stop the backup: without it every item counts as new.
            FSLOG_ERROR("failed to set previous DirChange [%s], it is treated as absent: %s", reference.c_str(),
                        loaded.AsString().c_str());
            if (!full)
                IncrementalDirChange::RaisePreviousRecordUnusable(reference, loaded.Message(), kTakesEveryItem);
        }
    }
    // A non-full job always asks the record: without a previous file nothing is known, so
    // every item that time stamps would leave behind is taken as new.
    m_callback->SetPreviousDirChangeInterface(full ? nullptr : IncrementalDirChange::GetDirChangeInterface());
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Prepare_ChangeJournal()
{
    if (!m_callback || !m_subclientContent || !m_subclientContent->GetSubclient() ||
        !m_subclientContent->GetSubclient()->Data().changeJournal)
        return CKxError::Success();
    CChangeJournalScan::SJob job;
    job.instanceFolder = CInstancePaths::InstanceFolder();
    job.resultsFolder = m_subclientResultsFolder;
    if (m_subclientContent->GetApplicationId())
        job.configPath = m_subclientContent->GetApplicationId()->getConfigPath();
    job.full = m_backupType == kFullBackup;
    // Jobs that take more than what changed, or judge items by more than the record and times.
    CBagPtr bag = GetConfigurationBag();
    if (m_referenceTime == 0)
        job.walkCause = "the job has no reference time (it takes every item)";
    else if (m_adHoc)
        job.walkCause = "an ad hoc job walks";
    else if (m_incrementalImage)
        job.walkCause = "incremental image mode walks";
    else if (bag && (bag->GetBool(Id::idTrueUpQualified) || bag->GetBool(Id::idFileServerTrueUp)))
        job.walkCause = "a true-up walks";
    job.index = m_dirChangeIndex;
    job.previousRecordPath = m_callback->GetReferenceDirChangePath();
    m_changeJournal = std::make_unique<CChangeJournalScan>();
    KX_RETURN_IF_FAILED(m_changeJournal->Begin(job, CJournalSyncClient::kDefaultTimeoutMs),
                        "Failed to consult the change journal");
    m_callback->SetFolderReadPlan(m_changeJournal->Plan());
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Prepare_AdHocJob()
{
    if (!m_adHoc)
        return CKxError::Success();
    CBagPtr bag = GetConfigurationBag();
    FSLOG(0, "Setting last job as %sfull", m_lastJobWasFull ? "" : "not ");
    FSLOG(0, "BackupType=%lu", static_cast<unsigned long>(m_backupType));
    if (bag) {
        KX_RETURN_IF_ERROR(bag->Write(Id::idFollowSymLink, false));
        FSLOG(0, "Follow symbolic links path is disabled for OnDemand jobs");
        KX_RETURN_IF_ERROR(bag->Write(Id::idEnableFolderLevelMultithread, false));
        KX_RETURN_IF_ERROR(bag->Write(Id::idMaxScanThreads, 1u));
        FSLOG(0, "Multithreaded scan is disabled for OnDemand jobs");
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Prepare_CommitJobs()
{
    FSLOG(0, "Checking for commit job");
    if (!m_fileNameFactory)
        return CKxError::Success();
    FSLOG(0, "SubclientDir=[%s], DirChangeFileName=[%s], HubrixerName=[%s]", m_subclientResultsFolder.c_str(),
          m_fileNameFactory->ConsolidatedDirChange(0).c_str(), m_clientName.c_str());
    // A commit file of an earlier commit job is never taken twice.
    const std::string commitCollect = m_fileNameFactory->CommitCollect();
    KX_RETURN_IF_FAILED(FXFile::Remove(commitCollect), "Failed to remove the earlier commit collect file");
    if (m_commitJobId == 0)
        return CKxError::Success();
    const std::string pending =
        FXPath::Append(CInstancePaths::JobResultsFolder(), "jobs/" + std::to_string(m_commitJobId) + "/" +
                                                               CProcessCommitFiles::kPendingCommitFile);
    CKxError copied = FXFile::Copy(pending, commitCollect);
    if (copied.IsSuccess()) {
        FSLOG(0, "Commit collect file [%s] made from [%s]", commitCollect.c_str(), pending.c_str());
        return CKxError::Success();
    }
    // What the interrupted job owed is unknown: only taking every item is sure to take it.
    FSLOG_ERROR("%s", copied.AsString().c_str());
    FSLOG(0, "Failed to create commit collect file. Forcing reference time to 0 for this backup to behave as FULL.");
    m_referenceTime = 0;
    if (CBagPtr bag = GetConfigurationBag())
        KX_RETURN_IF_ERROR(bag->Write("ReferenceTime", 0ULL));
    if (m_callback)
        m_callback->SetReferenceTime(0);
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Prepare_NutanixAFSBackup()
{
    if (m_backupType == 4) {
        RaiseEvent(kEventScanFailed, EvEvent::Major, "Nutanix Changelist Backup");
        return CKxError(KxCode::InvalidParameter, "Differential Job not supported for Nutanix Changelist Backup");
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Prepare_TrueUpBrowseIndex() { return m_private->Prepare_TrueUpBrowseIndex(); }

CKxError CScanJobFileSystem::Prepare_FileServerScan()
{
    CBagPtr bag = GetConfigurationBag();
    const int clientAppType = static_cast<int>(BagInteger(bag, Id::idClientAppType));
    if (!m_callback || !m_callback->IsFileServerClientScan(clientAppType))
        return CKxError::Success();
    if (m_backupType == 4) {
        RaiseEvent(kEventScanFailed, EvEvent::Major, "FileServer Changelist Backup");
        return CKxError(KxCode::InvalidParameter, "Differential Job not supported for FileServer Changelist Backup");
    }
    FSLOG(0, "This is a FileServerScan, all phases of the backup job will be run if the Incremental Scan is empty.");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::ProcessCriteriaBasedFiles() { return CKxError::Success(); }

CKxError CScanJobFileSystem::ProcessScanContent_WriteInformation()
{
    return m_private->ProcessScanContent_WriteInformation();
}

// ---------------------------------------------------------------------------------------------
// Alive report

CKxError CScanJobFileSystem::StartAliveThread()
{
    (void)EndAliveThread();
    CScanJobCallbackPtr callback = m_callback;
    // The client is made here, on the job's thread, while the instance is certainly in focus.
    std::string server;
    m_aliveClient.reset();
    if (CXJob::GetServerName(server).IsSuccess())
        m_aliveClient = CBackupJobClient::createInstance(server, m_jobId, 0, kPlatformTypeUnix, false, m_jobToken);
    CJobAliveReporter::SHooks hooks;
    hooks.connect = [this] { return static_cast<bool>(m_aliveClient); };
    hooks.isAlive = [callback] { return callback && callback->GetIsAlive(); };
    hooks.resetAlive = [callback] {
        if (callback)
            callback->ResetIsAlive();
    };
    hooks.markAlive = [this] { return m_aliveClient ? m_aliveClient->jobAlive() : CKxError::Success(); };
    m_aliveReporter = std::make_unique<CJobAliveReporter>(std::move(hooks));
    m_aliveReporter->Start();
    return CKxError::Success();
}

bool CScanJobFileSystem::IsAliveThreadRunning() const { return m_aliveReporter && m_aliveReporter->IsRunning(); }

CKxError CScanJobFileSystem::EndAliveThread()
{
    if (m_aliveReporter)
        m_aliveReporter->Stop();
    return CKxError::Success();
}

// ---------------------------------------------------------------------------------------------
// Run

CKxError CScanJobFileSystem::Run()
{
    FSTRACE();
    KX_RETURN_IF_ERROR(ProcessCriteriaBasedFiles());
    CBagPtr bag = GetConfigurationBag();
    if (bag && bag->GetBool(Id::idOnDemandSkipProcessWorkUnit)) {
        FSLOG(0, "No workunits to process for this criteria based archiving");
        return CKxError::Success();
    }
    return m_private->Run();
}

CKxError CScanJobFileSystem::GetWorkUnitManager(CWorkUnitManagerPtr& manager)
{
    if (!m_workUnitManager)
        m_workUnitManager = NewWorkUnitManager();
    manager = m_workUnitManager;
    return CKxError::Success();
}

CWorkUnitManagerPtr CScanJobFileSystem::NewWorkUnitManager()
{
    auto manager = std::make_shared<CWorkUnitManager>(m_jobId);
    manager->SetConfigurationBag(GetConfigurationBag());
    manager->SetFollowMountPaths(m_followMountPoints);
    if (m_callback) {
        // Content reached through another mount (a snapshot) is walked there and named as at
        // its source.
        if (const ContentMapperAPIPtr& mapper = m_callback->GetContentMapper(); mapper && !mapper->IsIdentity())
            manager->SetContentMapper(mapper);
        CScanFailureConsumerPtr failures;
        if (m_callback->GetScanFailureConsumer(failures).IsSuccess() && failures)
            manager->SetScanFailureConsumer(failures);
    }
    return manager;
}

bool CScanJobFileSystem::GetFileSystemTypeOf(const std::string& path, std::string& type)
{
    type.clear();
    std::string table;
    if (FXFile::ReadWholeFile("/proc/self/mountinfo", table).IsError())
        return false;
    auto unescape = [](const std::string& field) {
        std::string out;
        for (size_t i = 0; i < field.size(); ++i) {
            if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '7') {
                out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                                (field[i + 3] - '0')));
                i += 3;
            } else {
                out.push_back(field[i]);
            }
        }
        return out;
    };
    size_t best = 0;
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos)
            end = table.size();
        const std::string line = table.substr(start, end - start);
        start = end + 1;
        // id parent major:minor root mountpoint options [optional...] - fstype source options
        std::vector<std::string> fields;
        for (size_t at = 0; at < line.size();) {
            size_t blank = line.find(' ', at);
            if (blank == std::string::npos)
                blank = line.size();
            fields.push_back(line.substr(at, blank - at));
            at = blank + 1;
        }
        if (fields.size() < 7)
            continue;
        size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-")
            ++dash;
        if (dash + 1 >= fields.size())
            continue;
        const std::string mountPoint = unescape(fields[4]);
        if (FXPath::IsUnder(path, mountPoint) && mountPoint.size() + 1 > best) {
            best = mountPoint.size() + 1;
            type = fields[dash + 1];
        }
    }
    return true;
}

CKxError CScanJobFileSystem::ConfigureWorkersCount(CWorkUnitManager& manager, int& maxThreads, bool& folderLevel)
{
    folderLevel = false;
    maxThreads = kDefaultMaxScanThreads;
    CBagPtr bag = GetConfigurationBag();
    long long configured = 0;
    if (bag && CScannerSettings::ReadInteger(*bag, Id::idMaxScanThreads, configured))
        maxThreads = static_cast<int>(std::min<long long>(configured, 1 << 20));
    if (maxThreads <= 0) {
        maxThreads = kDefaultMaxScanThreads;
        FSLOG(0, "MaxScanThreads is reset to default value %d", maxThreads);
    }
    const int units = static_cast<int>(manager.GetPhysicalMediaVolumeWorkUnitMap().size());
    if (units < maxThreads) {
        FSLOG(0, "MaxScanThreads is %d but only %d WorkUnits available. Restting MaxScanThreads to %d", maxThreads,
              units, units);
        maxThreads = units;
    }
    KX_RETURN_IF_ERROR(AssignWorkersCountForWorkUnit(manager, maxThreads));
    for (const auto& [key, unit] : manager.GetPhysicalMediaVolumeWorkUnitMap())
        if (unit && unit->GetMaxWorkers() > 1)
            folderLevel = true;
    if (bag && bag->GetBool(Id::idEnableFolderLevelMultithread))
        KX_RETURN_IF_ERROR(bag->Write(Id::idMaxWorkers, 1u));
    if (maxThreads > 1 || folderLevel) {
        if (bag)
            KX_RETURN_IF_ERROR(bag->Write(Id::idEnableMultiThread, true));
        if (const ContentMapperAPIPtr& mapper = manager.GetContentMapper()) {
            if (auto standard = std::dynamic_pointer_cast<CContentMapper>(mapper)) {
                standard->SetCacheEnabled(false);
            } else {
                FSLOG(0, "dynamic cast failed for CContentMapper. Disabling multithreaded scan");
                maxThreads = 1;
            }
        }
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::AssignWorkersCountForWorkUnit(CWorkUnitManager& manager, int maxThreads)
{
    CBagPtr bag = GetConfigurationBag();
    auto& units = manager.GetPhysicalMediaVolumeWorkUnitMap();
    if (units.empty() || maxThreads <= 0)
        return CKxError::Success();
    auto setWorkers = [](const CWorkUnitPtr& unit, int workers) {
        return unit ? unit->GetBag()->Write(Id::idMaxWorkers, workers) : CKxError::Success();
    };

    if (bag && bag->GetBool(Id::idEnableFolderLevelMultithread)) {
        const int folderThreads = static_cast<int>(BagInteger(bag, Id::idMaxWorkers, 1));
        if (folderThreads <= maxThreads) {
            FSLOG(0, "Folder level multithread is enabled but FolderLevelThreads [%d] <= workunits [%d]. So folderlevel "
                     "multithreading will not be used.",
                  folderThreads, maxThreads);
            KX_RETURN_IF_ERROR(bag->Write(Id::idMaxWorkers, 1u));
            for (const auto& [key, unit] : units)
                KX_RETURN_IF_ERROR(setWorkers(unit, 1));
            return CKxError::Success();
        }
        FSLOG(0, "Since folder level multithread is enabled, Each workunits [%d], will be scanned with multiple threads",
              maxThreads);
        const int each = folderThreads / maxThreads;
        int remainder = folderThreads % maxThreads;
        for (const auto& [key, unit] : units) {
            const int workers = each + (remainder > 0 ? 1 : 0);
            if (remainder > 0)
                --remainder;
            KX_RETURN_IF_ERROR(setWorkers(unit, workers));
            FSLOG(0, "Folder level threads [%d] for WU  [%s]", workers, key.c_str());
        }
        return CKxError::Success();
    }

    if (m_adHoc && bag && bag->GetBool(Id::idAdhocDisableMultiThread)) {
        FSLOG(0, "Automatic multi-threaded scan configuration on applicable file systems is disabled for ad-hoc jobs");
        return CKxError::Success();
    }
    enum EKind { Local, Nfs, Gluster, Lustre };
    std::vector<EKind> kinds;
    int counts[4] = {0, 0, 0, 0};
    for (const auto& [key, unit] : units) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(key.c_str(), nullptr), &std::free);
        if (!real)
            FSLOG(0, "MakeRealPath failed for [%s]", key.c_str());
        const std::string realPath = real ? real.get() : key;
        FSLOG(3, "LocalVal [%s], RealVal [%s]", key.c_str(), realPath.c_str());
        std::string type;
        if (!GetFileSystemTypeOf(realPath, type)) {
            FSLOG(0, "Failed to get ZvMntTab list. Folder level multithreading is not enabled. Error %s",
                  "the mount table cannot be read");
            return CKxError::Success();
        }
        EKind kind = Local;
        if (type == "nfs" || type == "nfs3" || type == "nfs4")
            kind = Nfs;
        else if (type == "fuse.glusterfs")
            kind = Gluster;
        else if (type == "lustre")
            kind = Lustre;
        kinds.push_back(kind);
        ++counts[kind];
    }
    const int budget = kAutomaticFolderLevelThreads;
    const int remote = counts[Nfs] + counts[Gluster] + counts[Lustre];
    // Without a network or cluster unit there is nothing to spend the budget on: every unit
    // keeps one thread (and nothing is divided by the count of such units).
    if (budget <= maxThreads || remote > maxThreads || remote == 0) {
        FSLOG(0, "Folder level multithreading will not be used. FolderLevelThreads [%d] <= workunits [%d] or NFS [%d] + "
                 "Gluster [%d] + Lustre [%d] Mounts > workunits.",
              budget, maxThreads, counts[Nfs], counts[Gluster], counts[Lustre]);
        for (const auto& [key, unit] : units)
            KX_RETURN_IF_ERROR(setWorkers(unit, 1));
        return CKxError::Success();
    }
    FSLOG(0, "Encountered NFS[%d] Gluster[%d] Lustre[%d] Mounts", counts[Nfs], counts[Gluster], counts[Lustre]);
    const int spend = budget - (maxThreads - remote);
    const int each = spend / remote;
    int remainder = spend % remote;
    FSLOG(0, "iMaxFolderLevelThreadsForNfsVol [%d], iMaxFolderLevelThreadsPerNfsVol [%d], iRemainder [%d]", spend, each,
          remainder);
    static const char* const kKindNames[] = {"", "NFS", "Gluster", "Lustre"};
    size_t index = 0;
    for (const auto& [key, unit] : units) {
        const EKind kind = kinds[index++];
        if (kind == Local) {
            KX_RETURN_IF_ERROR(setWorkers(unit, 1));
            FSLOG(0, "Folder level threads [1] for WU [%s]", key.c_str());
            continue;
        }
        const int workers = each + (remainder > 0 ? 1 : 0);
        if (remainder > 0)
            --remainder;
        KX_RETURN_IF_ERROR(setWorkers(unit, workers));
        FSLOG(0, "Folder level threads [%d] for %s WU %s", workers, kKindNames[kind], key.c_str());
    }
    if (bag) {
        KX_RETURN_IF_ERROR(bag->Write(Id::idMaxWorkers, static_cast<unsigned int>(spend)));
        KX_RETURN_IF_ERROR(bag->Write(Id::idEnableFolderLevelMultithread, true));
    }
    return CKxError::Success();
}

CBagPtr CScanJobFileSystem::MakeEngineSettings()
{
    CBagPtr bag = GetConfigurationBag();
    auto settings = std::make_shared<CBag>();
    if (!bag)
        return settings;
    const std::string clientName = bag->GetString(Id::idClientName);
    const long long distributedType = BagInteger(bag, Id::idDistributedAppType);
    (void)settings->Write("isClusterGroupClient", ZVPlatformInfo::isClusterGroupClient(clientName));
    (void)settings->Write("isClusterFSFilter", bag->GetBool(Id::idClusterFilter));
    (void)settings->Write("isSkipFSCheck", false);
    (void)settings->Write("sClusteredFSTypes", bag->GetString(Id::idClusterFSTypes));
    (void)settings->Write("isFollowMountPoint", m_followMountPoints);
    (void)settings->Write("isHadoopScan", bag->GetBool(Id::idHadoopScan));
    (void)settings->Write("isGpfsScan", distributedType == 3 && bag->GetBool(Id::idGpfsSnap));
    (void)settings->Write("isGlusterScan", distributedType == 11);
    (void)settings->Write("isLustreScan", distributedType == 13);
    const char* automountReason = nullptr;
    if (bag->GetBool(Id::idOnDemandAdHocCriteriaBased))
        automountReason = "criteria based adhoc scan";
    else if (m_adHoc)
        automountReason = "adhoc scan";
    else if (bag->GetBool(Id::idAnalyticsEnabled))
        automountReason = "analytics scan";
    else if (bag->GetBool(Id::idAutoMountRequired))
        automountReason = "automatic share mount scan";
    if (automountReason)
        FSLOG(0, "Disabling autofs check for %s", automountReason);
    (void)settings->Write("isDisableAutomountCheck", automountReason != nullptr);
    return settings;
}

std::string CScanJobFileSystem::LocalPath(const std::string& sourcePath) const
{
    const ContentMapperAPIPtr mapper = m_callback ? m_callback->GetContentMapper() : nullptr;
    return mapper && !mapper->IsIdentity() ? mapper->GetLocalPath(sourcePath) : sourcePath;
}

CScanContentConfiguration::SWorkUnitLists CScanJobFileSystem::LocalLists(
    const CScanContentConfiguration::SWorkUnitLists& lists) const
{
    auto local = [this](const std::vector<std::string>& entries) {
        std::vector<std::string> mapped;
        mapped.reserve(entries.size());
        for (const std::string& entry : entries)
            mapped.push_back(LocalPath(entry));
        return mapped;
    };
    return {local(lists.content),          local(lists.contentExceptions), local(lists.filters),
            local(lists.filterExceptions), local(lists.systemFilters),     local(lists.systemFilterExceptions)};
}

CKxError CScanJobFileSystem::AddJobListsToUnit(CWorkUnit& unit, const std::vector<std::string>& extraExceptions)
{
    const auto lists = LocalLists(m_lists);
    for (const std::string& entry : lists.contentExceptions)
        KX_RETURN_IF_ERROR(unit.AddScanContentExceptionItem(entry));
    for (const std::string& entry : extraExceptions)
        KX_RETURN_IF_ERROR(unit.AddScanContentExceptionItem(entry));
    for (const std::string& entry : lists.filters)
        KX_RETURN_IF_ERROR(unit.AddFilterItem(entry));
    for (const std::string& entry : lists.filterExceptions)
        KX_RETURN_IF_ERROR(unit.AddFilterExceptionItem(entry));
    for (const std::string& entry : lists.systemFilters)
        KX_RETURN_IF_ERROR(unit.AddSystemFilterItem(entry));
    for (const std::string& entry : lists.systemFilterExceptions)
        KX_RETURN_IF_ERROR(unit.AddSystemFilterExceptionItem(entry));
    return CKxError::Success();
}

CKxError CScanJobFileSystem::InitializeWorkUnits(CWorkUnitManager& manager)
{
    m_lists = m_subclientContent->GetScanContentConfiguration()->GetWorkUnitLists();
    // Each entry is tried on a unit of its own first, so that one bad entry costs only itself.
    CWorkUnit probe("probe", "/");
    std::vector<std::string> content;
    for (const std::string& entry : m_lists.content) {
        CKxError added = probe.AddScanContentItem(entry);
        if (added.IsError()) {
            FSLOG_ERROR("Content [%s] cannot be scanned: %s", entry.c_str(), added.AsString().c_str());
            (void)ReportScanFailure(entry, added);
            m_callback->SetSCContentFailed(true);
            RaiseEvent(kEventContentError, EvEvent::Minor, "Subclient content [" + entry + "] cannot be scanned");
            continue;
        }
        const std::string root = CWorkUnit::GetWalkRootOf(entry);
        struct stat status {};
        if (::lstat(LocalPath(root).c_str(), &status) != 0) {
            const int error = errno;
            // The walk lists the missing root with its error; the job goes on with the rest.
            FSLOG_ERROR("Subclient content [%s] is not accessible, errno %d", root.c_str(), error);
            m_callback->SetSCContentFailed(true);
            RaiseEvent(kEventContentError, EvEvent::Minor, "Subclient content [" + root + "] is not accessible");
            if (error == ESTALE)
                m_private->AddStaleMount(root);
        }
        content.push_back(entry);
    }
    auto keepValid = [&probe](std::vector<std::string>& list, const char* kind,
                              CKxError (CWorkUnit::*add)(const std::string&)) {
        std::vector<std::string> valid;
        for (const std::string& entry : list) {
            CKxError added = (probe.*add)(entry);
            if (added.IsError())
                FSLOG_ERROR("%s [%s] is not valid and is ignored: %s", kind, entry.c_str(), added.AsString().c_str());
            else
                valid.push_back(entry);
        }
        list = std::move(valid);
    };
    keepValid(m_lists.contentExceptions, "Content exception", &CWorkUnit::AddScanContentExceptionItem);
    keepValid(m_lists.filters, "Filter", &CWorkUnit::AddFilterItem);
    keepValid(m_lists.filterExceptions, "Filter exception", &CWorkUnit::AddFilterExceptionItem);
    keepValid(m_lists.systemFilters, "System filter", &CWorkUnit::AddSystemFilterItem);
    keepValid(m_lists.systemFilterExceptions, "System filter exception", &CWorkUnit::AddSystemFilterExceptionItem);
    m_lists.content = content;

    // The lists name source paths; the engine walks where the content lies.
    const auto local = LocalLists(m_lists);
    KX_RETURN_IF_ERROR(manager.FinalizeWorkUnits(local.content, local.contentExceptions, local.filters,
                                                 local.filterExceptions, local.systemFilters,
                                                 local.systemFilterExceptions));
    m_walkedRoots.AddContentEntries(m_lists.content);
    if (manager.GetPhysicalMediaVolumeWorkUnitMap().empty())
        FSLOG(0, "PhysicalMediaVolumeWorkUnitMap is empty");
    return CKxError::Success();
}

void CScanJobFileSystem::RestoreFolderLevelSettings()
{
    CBagPtr bag = GetConfigurationBag();
    if (!bag)
        return;
    (void)bag->Write(Id::idEnableFolderLevelMultithread, m_configuredFolderLevel);
    if (m_configuredFolderLevel)
        (void)bag->Write(Id::idMaxWorkers, m_configuredFolderLevelThreads);
    else
        (void)bag->Remove(Id::idMaxWorkers);
}

CKxError CScanJobFileSystem::RunPass(const CWorkUnitManagerPtr& manager, const CBagPtr& engineSettings)
{
    FSLOG(0, "Scanner loop - start");
    KX_RETURN_IF_FAILED(m_callback->FlushBuffers(), "Failed to flush the scan buffers");
    RestoreFolderLevelSettings();
    int threads = 1;
    bool folderLevel = false;
    KX_RETURN_IF_ERROR(ConfigureWorkersCount(*manager, threads, folderLevel));
    KX_RETURN_IF_ERROR(ProcessScanContent_WriteInformation());

    std::vector<CWorkUnitPtr> units;
    for (const auto& [key, unit] : manager->GetPhysicalMediaVolumeWorkUnitMap())
        if (unit)
            units.push_back(unit);
    if (m_progress)
        m_progress->SetUnits(units);

    CScanArbiter arbiter(m_jobId, threads, m_callback);
    arbiter.SetScannerConfigurationBag(engineSettings);
    arbiter.SetWalkIdentity(m_private->GetWalkIdentity());
    ++m_passes;
    const auto started = std::chrono::steady_clock::now();
    CKxError status = arbiter.Run(manager);
    const double walked = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    m_stepSeconds.emplace_back("walk", walked);
    FSLOG(0, "Scan pass [%u] walked [%zu] work unit(s) in %.3f s", m_passes, units.size(), walked);
    for (const CWorkUnitPtr& unit : units)
        FSLOG(0, "Work unit [%s]: %llu items, %llu folders, %llu failures", unit->GetKey().c_str(),
              static_cast<unsigned long long>(unit->GetItemCount()),
              static_cast<unsigned long long>(unit->GetFolderCount()),
              static_cast<unsigned long long>(unit->GetFailureCount()));
    return status;
}

CKxError CScanJobFileSystem::BuildRestartPass(CWorkUnitManagerPtr& next, std::vector<std::string>& pending)
{
    next.reset();
    pending.clear();
    CBagPtr bag = GetConfigurationBag();
    std::vector<std::string> mountPaths, longPaths;
    std::vector<CScanJobCallback::SSymLinkTarget> linkTargets;
    KX_RETURN_IF_ERROR(m_callback->PopNewMountPaths(mountPaths));
    KX_RETURN_IF_ERROR(m_callback->PopSymLinkTargets(linkTargets));
    KX_RETURN_IF_ERROR(m_callback->PopLongPaths(longPaths));

    std::vector<std::string> roots;  // plain paths of this pass's new roots
    for (const std::string& path : mountPaths) {
        FSLOG(0, "New MountPath %s", path.c_str());
        const CWalkedRoots::EVerdict verdict = m_walkedRoots.CheckMountPath(path);
        if (verdict != CWalkedRoots::EVerdict::New) {
            FSLOG(3, "Mount path [%s] is not walked again: %s", path.c_str(), CWalkedRoots::VerdictName(verdict));
            continue;
        }
        roots.push_back(FXPath::TrimTrailingSlashes(path));
        m_walkedRoots.AddWalkedRoot(path);
    }
    if (!roots.empty())
        FSLOG(0, "Scanner loop - will restart for New MountPaths");

    std::vector<std::string> linkRoots;  // judged on their real path: walked without links
    for (const CScanJobCallback::SSymLinkTarget& link : linkTargets) {
        std::string resolved;
        uid_t targetOwner = 0;
        const CWalkedRoots::EVerdict verdict =
            m_walkedRoots.CheckSymLinkTarget(link.target, link.linkOwner, resolved, targetOwner);
        if (verdict == CWalkedRoots::EVerdict::ForeignTarget) {
            FSLOG(0, "Symbolic link [%s] of user %u leads to [%s] of user %u outside the content: not followed",
                  link.link.c_str(), static_cast<unsigned>(link.linkOwner), resolved.c_str(),
                  static_cast<unsigned>(targetOwner));
            continue;
        }
        if (verdict != CWalkedRoots::EVerdict::New) {
            FSLOG(3, "Symbolic link target [%s] is not walked again: %s", link.target.c_str(),
                  CWalkedRoots::VerdictName(verdict));
            continue;
        }
        roots.push_back(resolved);
        m_walkedRoots.AddWalkedRoot(resolved);
        linkRoots.push_back(resolved);
    }
    if (!linkRoots.empty())
        FSLOG(0, "Scanner loop - will restart for symbolic links");

    std::vector<std::pair<std::string, std::string>> longRoots;  // path, volume
    const bool processLongPaths = bag && bag->GetBool(Id::idProcessLongPaths);
    for (const std::string& entry : longPaths) {
        static const std::string kOpen = "<SRCVOL>", kClose = "</SRCVOL>";
        const size_t open = entry.rfind(kOpen);
        const size_t close = entry.rfind(kClose);
        std::string path = entry, volume;
        if (open != std::string::npos && close != std::string::npos && close >= open + kOpen.size()) {
            path = entry.substr(0, open);
            volume = entry.substr(open + kOpen.size(), close - open - kOpen.size());
        }
        if (!processLongPaths) {
            // Not walked in a pass of its own, so it is not backed up: it must be in the list.
            CKxError tooLong = CKxError::FromErrno(ENAMETOOLONG, "Long path is not processed");
            (void)ReportScanFailure(path, tooLong);
            continue;
        }
        FSLOG(0, "Path : %s VolumeName : %s", path.c_str(), volume.c_str());
        if (volume.empty()) {
            FSLOG(0, "VolumeName is empty for the given long path[%s].", path.c_str());
            FSLOG_ERROR("VolumeName is empty for the long path");
            volume = "/";
        }
        longRoots.push_back({path, volume});
    }
    // The chains of a long-path pass let long paths through: this walk has no length limit, and
    // diverting them again would never end.
    if (!longRoots.empty()) {
        FSLOG(0, "Scanner loop - will restart for long path scan");
        KX_RETURN_IF_ERROR(bag->Write(Id::idLongPathVolumePath, longRoots.back().second));
    }
    KX_RETURN_IF_ERROR(bag->Write(Id::idIsLongPathScan, !longRoots.empty()));

    for (const std::string& root : roots)
        pending.push_back(root);
    for (const auto& [path, volume] : longRoots)
        pending.push_back(path);
    if (pending.empty())
        return CKxError::Success();

    next = NewWorkUnitManager();
    // Roots walked by an earlier pass that lie below a new root are excluded from it: their
    // items are listed already. Roots of this pass that overlap are walked once by the walk
    // itself, from the outermost.
    std::vector<std::string> exceptions = m_lists.contentExceptions;
    std::vector<std::string> content;
    for (const std::string& root : roots) {
        content.push_back(CWalkedRoots::LiteralContentEntry(root));
        for (const std::string& below : m_walkedRoots.RootsBelow(root))
            if (std::find(roots.begin(), roots.end(), below) == roots.end())
                exceptions.push_back(CWalkedRoots::LiteralFilterEntry(below));
    }
    if (!content.empty())
        KX_RETURN_IF_ERROR(next->FinalizeWorkUnits(content, exceptions, m_lists.filters, m_lists.filterExceptions,
                                                   m_lists.systemFilters, m_lists.systemFilterExceptions));
    auto& units = next->GetPhysicalMediaVolumeWorkUnitMap();
    for (const auto& [key, unit] : units)
        for (const std::string& root : linkRoots)
            if (unit)
                unit->ReachWithoutLinks(root);
    for (const auto& [path, volume] : longRoots) {
        CWorkUnitPtr& unit = units[volume];
        if (!unit) {
            unit = std::make_shared<CWorkUnit>(volume, volume);
            if (bag)
                unit->SetWildcardCaseInsensitive(bag->GetBool(Id::idForceInsensitiveFilterForWildCard));
            KX_RETURN_IF_ERROR(AddJobListsToUnit(*unit, {}));
        }
        KX_RETURN_IF_ERROR(unit->GetBag()->Write(Id::idIsLongPathScan, true));
        KX_RETURN_IF_ERROR(unit->GetBag()->Write(Id::idLongPathVolumePath, volume));
        CKxError added = unit->AddScanContentItem(CWalkedRoots::LiteralContentEntry(path));
        if (added.IsError())
            (void)ReportScanFailure(path, added);
    }
    return CKxError::Success();
}

void CScanJobFileSystem::ReportUnwalked(const std::vector<std::string>& pending)
{
    for (const std::string& path : pending) {
        CKxError notWalked = CKxError::FromErrno(ELOOP, "Scanner loop - too many iterations");
        (void)ReportScanFailure(path, notWalked);
        ++m_unwalkedListed;
    }
}

CKxError CScanJobFileSystem::Run1()
{
    FSTRACE();
    if (!m_callback || !m_subclientContent)
        return CKxError(KxCode::InvalidParameter, "The scan job is not configured");
    CBagPtr bag = GetConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    m_scanStatus = CKxError::Success();
    m_passes = 0;
    m_configuredFolderLevel = bag->GetBool(Id::idEnableFolderLevelMultithread);
    m_configuredFolderLevelThreads = static_cast<unsigned int>(BagInteger(bag, Id::idMaxWorkers, 0));

    CWorkUnitManagerPtr manager;
    KX_RETURN_IF_ERROR(GetWorkUnitManager(manager));
    manager->SetFollowMountPaths(m_followMountPoints);
    const bool preScan = bag->GetBool(Id::idPreScan);
    FSLOG(3, "Pre-scan mode [%d]", preScan ? 1 : 0);

    const CBagPtr engineSettings = MakeEngineSettings();
    const int clientAppType = static_cast<int>(BagInteger(bag, Id::idClientAppType));
    if (clientAppType == 11 || clientAppType == 13 || clientAppType == 2) {
        const char* label = clientAppType == 11 ? "Gluster" : clientAppType == 13 ? "Lustre" : "Nutanix";
        FSLOG(0, "Since this is of Distributed Cluster Type : %s, All phases of the backup job will be run if the "
                 "Incremental Scan is empty.",
              label);
        KX_RETURN_IF_ERROR(bag->Write(Id::idSkipEmptyIncrementalBackup, m_skipEmptyIncremental));
    }

    KX_RETURN_IF_ERROR(InitializeWorkUnits(*manager));
    const bool hasContent = !m_lists.content.empty();

    std::uint32_t retries = kDefaultMaxScanRetries;
    (void)ZVPlatformInfo::getNumber(CScannerSettings::kSection, "MaxScanRetries", retries);
    FSLOG(3, "max scan retries [%u]", retries);

    if (CScanProgress::ShouldShow()) {
        CScanJobCallbackPtr callback = m_callback;
        m_progress = std::make_unique<CScanProgress>(stderr, [callback] {
            std::uint64_t bytes = 0;
            for (const COutputResourcesPtr& resource : callback->GetOutputResourcesList())
                if (auto collect = std::dynamic_pointer_cast<CFlatCollectFile>(resource->GetCollectConsumer()))
                    bytes += collect->GetDataSize();
            return bytes;
        });
        m_progress->Start();
    }

    for (;;) {
        CKxError status = RunPass(manager, engineSettings);
        if (retries > 0)
            --retries;
        if (status.IsError()) {
            m_scanStatus = std::move(status);
            break;
        }
        CWorkUnitManagerPtr next;
        std::vector<std::string> pending;
        CKxError built = BuildRestartPass(next, pending);
        if (built.IsError()) {
            m_scanStatus = std::move(built.Push("Failed to prepare the next scan pass"));
            break;
        }
        if (!next)
            break;
        if (retries == 0) {
            FSLOG_ERROR("Scanner loop - too many iterations");
            FailJob();
            RaiseEvent(kEventTooManyScanPasses, EvEvent::Major, "Scan exceeds max scan retries!");
            ReportUnwalked(pending);
            break;
        }
        manager = next;
    }
    if (m_progress)
        m_progress->Stop();
    FinishScanStatus(hasContent);
    return CKxError::Success();
}

void CScanJobFileSystem::FinishScanStatus(bool hasContent)
{
    CBagPtr bag = GetConfigurationBag();
    FSLOG(0, "Scan complete with final error %lX", static_cast<unsigned long>(m_scanStatus.Code()));
    if (!hasContent || m_scanStatus.IsError()) {
        FailJob();
        FSLOG_ERROR("File Scan job failed. HasContent=[%s], ScanStatus=[%lu]", hasContent ? "True" : "False",
                    static_cast<unsigned long>(m_scanStatus.IsError() ? 1 : 0));
        const long long distributedType = BagInteger(bag, Id::idDistributedAppType);
        if (distributedType == 3 && !hasContent) {
            RaiseEvent(kEventScanFailed, EvEvent::Major, "GPFS content not found");
            FSLOG_ERROR("GPFS content not found. Failing the job");
        } else if (distributedType == 11) {
            if (bag && bag->GetBool(Id::idFailPhaseSet))
                FailPhase();
        } else if (!hasContent && m_adHoc && bag && bag->GetBool(Id::idOnDemandAdHocCriteriaBased)) {
            FSLOG(0, "Not failing job for criteria based adhoc job.");
            SetFailJob(false);
        } else {
            RaiseEvent(kEventScanFailed, EvEvent::Major,
                       m_scanStatus.IsError() ? "File scan failed: " + m_scanStatus.Message()
                                              : std::string("File scan failed: the subclient has no content"));
        }
    }
    if (m_scanStatus.IsError())
        FSLOG_ERROR("Scan error detected: %s", m_scanStatus.AsString().c_str());
}

CKxError CScanJobFileSystem::ReportScanFailure(const std::string& path, CKxError& error)
{
    if (!m_callback) {
        FSLOG(0, "Reporting scan failures is not supported");
        FSLOG_ERROR("Scan failure of [%s]: %s", path.c_str(), error.AsString().c_str());
        return CKxError::Success();
    }
    // The failure list tells folders by their trailing '/'.
    std::string listed = path;
    if (!listed.empty() && listed.back() != '/' && FXFile::IsDirectory(listed))
        listed.push_back('/');
    return m_callback->ReportScanFailure(listed, error);
}

CKxError CScanJobFileSystem::CreateJRStateFile()
{
    if (!m_distributedMode)
        return CKxError::Success();
    FSLOG(0, "This is a Multi-node backup, creating JR state file with job ID %lld", static_cast<long long>(m_jobId));
    const std::string path = FXPath::Append(m_subclientResultsFolder, "SubclientdirState.zvf");
    CKxError written = FXFile::WriteFileAtomically(path, KxFormat("%lld", static_cast<long long>(m_jobId)));
    if (written.IsError())
        return std::move(written.Push(KxFormat("Failed to write to JR state file [%s]", path.c_str())));
    return CKxError::Success();
}

// ---------------------------------------------------------------------------------------------
// Clean-up

template <typename Step>
CKxError CScanJobFileSystem::TimedStep(const char* name, Step step)
{
    const auto started = std::chrono::steady_clock::now();
    CKxError result = step();
    m_stepSeconds.emplace_back(name, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return result;
}

// A clean-up step, timed under its own name for the report.
#define TIMED_STEP(step) TimedStep(#step, [this] { return step(); })

CKxError CScanJobFileSystem::Cleanup()
{
    FSTRACE();
    const auto started = std::chrono::steady_clock::now();
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_FlushDirchangeToDisk));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_IncompleteLargeFileBrowse));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_IncompleteLargeFileBrowseResponse));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ProcessFailedFiles));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_SaveBackupStatusFile));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ProcessCommitFiles));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ProcessGpfsFileSets));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ProcessFilesForMigrationAssistant));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ProcessTrueUp));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ProcessEmptyScanContent));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_PostProcessDirChange));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_PostProcessCollectFiles));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ApplyErrorRules));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ProcessIPhoto));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_PostProcessResultFolder));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_CloseDirchange));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_CreateMountConfigFile));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_UpdateSyncFolder));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_ScanMarkingJob));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_UploadMetadata));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_FileServerTrueUpRestart));
    (void)TIMED_STEP(Cleanup_RevertImpersonation);
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_UpdateJobStatusForLaptopClient));
    (void)TIMED_STEP(Cleanup_UnmountSnapshotsAndShares);
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_TrueUp));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_DistributedBackup));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_PostCleanup));
    (void)TIMED_STEP(Cleanup_PrintStaleMountList);
    KX_RETURN_IF_ERROR(TIMED_STEP(CopyJRFolderAfterScanIfRequested));
    KX_RETURN_IF_ERROR(TIMED_STEP(Cleanup_SyncOutputs));
    (void)EndAliveThread();
    FSLOG(0, "Clean-up took %.3f s", std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    WriteStepTimes();
    PrintSummary();
    return CScanJob::Cleanup();
}
#undef TIMED_STEP

void CScanJobFileSystem::WriteStepTimes() const
{
    // For `fsweep report`, which no later phase reads: written whole, not synced, and a failure
    // costs the report its step times only.
    const std::string folder = GetResultFolderForJob();
    if (folder.empty())
        return;
    nlohmann::json steps = nlohmann::json::array();
    for (const auto& [name, seconds] : m_stepSeconds)
        steps.push_back({{"step", name}, {"seconds", seconds}});
    const nlohmann::json record = {
        {"job", m_jobId},
        {"seconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - m_jobStart).count()},
        {"steps", std::move(steps)}};
    if (CKxError written = FXFile::WriteFileAtomically(FXPath::Append(folder, kStepTimesFile), record.dump() + "\n",
                                                       FXFile::EDurability::Volatile);
        written.IsError())
        FSLOG_ERROR("Failed to write the step times: %s", written.AsString().c_str());
}

std::vector<std::string> CScanJobFileSystem::ResultFolders() const
{
    std::vector<std::string> folders;
    for (const std::string& folder : {GetResultFolderForSubclient(), GetResultFolderForJob()})
        if (!folder.empty())
            folders.push_back(folder);
    return folders;
}

CKxError CScanJobFileSystem::Cleanup_SyncOutputs()
{
    FSTRACE();
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::string> folders = ResultFolders();
    if (m_fileNameFactory) {
        const std::string folder = m_fileNameFactory->WorkUnitCollectFolder();
        std::vector<std::string> covered;
        KX_RETURN_IF_ERROR(CCollectEvidence::ListCovered(folder, m_fileNameFactory->WorkUnitCollectNamePattern(),
                                                         FXPath::FileName(m_fileNameFactory->SplitCollect(0, 0)),
                                                         covered));
        KX_RETURN_IF_ERROR(CCollectEvidence::Write(m_fileNameFactory->CollectEvidence(), folder, covered, m_splitWritten));
    }
    COutputSync::SCounts counts;
    KX_RETURN_IF_FAILED(COutputSync::SyncChangedSince(folders, m_startedAt, CInstancePaths::Root(), &counts),
                        "Failed to put the job's results on disk");
    FSLOG(0, "Collect-file evidence written, %llu files and %llu folders synced to disk in %.3f s",
          static_cast<unsigned long long>(counts.files), static_cast<unsigned long long>(counts.folders),
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_FlushDirchangeToDisk()
{
    return m_callback ? m_callback->FlushBuffers() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_IncompleteLargeFileBrowse() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Cleanup_IncompleteLargeFileBrowseResponse()
{
    CBagPtr bag = GetConfigurationBag();
    if (!bag || !bag->GetBool(Id::idSkipIncompleteLargeFileBrowse))
        return CKxError::Success();
    FSLOG(0, "Browse for incomplete large files was skipped.");
    if (m_trueUpOnDemand)
        FSLOG(0, "Incomplete large files was skipped for TrueUp Job, JM needs to be updated.");
    else if (m_backupType == kFullBackup)
        FSLOG(0, "Incomplete large files was skipped for Full Job, JM needs to be updated.");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_ProcessFailedFiles()
{
    if (!m_callback || !m_fileNameFactory)
        return CKxError::Success();
    // Every job feeds the list back, a full too: only a backup phase that took the items may
    // release them.
    std::shared_ptr<CProcessFailedFiles> failed;
    KX_RETURN_IF_ERROR(m_callback->GetProcessFailedFiles(failed));
    KX_RETURN_IF_FAILED(failed->Run(*m_callback), "Failed to process the failed file list");
    // The commit run asks the record what is listed already: what this run added must be in it.
    return m_callback->FlushBuffers();
}

CKxError CScanJobFileSystem::Cleanup_SaveBackupStatusFile()
{
    return m_private ? m_private->Cleanup_SaveBackupStatusFile() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_ProcessCommitFiles()
{
    if (m_commitJobId == 0 || !m_callback)
        return CKxError::Success();
    FSLOG(0, "Processing last job's Commit files");
    std::shared_ptr<CProcessCommitFiles> commit;
    CKxError processed = m_callback->GetProcessCommitFiles(commit);
    if (processed.IsSuccess())
        processed = commit->Run(*m_callback);
    if (processed.IsError()) {
        RaiseEvent(kEventScanFailed, EvEvent::Major, "Failed to process last job's Commit files");
        return std::move(processed.Push("Failed to process last job's Commit files"));
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_ProcessGpfsFileSets() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Cleanup_ProcessFilesForMigrationAssistant() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Cleanup_ProcessTrueUp()
{
    return m_private ? m_private->Cleanup_ProcessTrueUp() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_ProcessEmptyScanContent()
{
    if (!m_callback || !m_subclientContent || m_passes == 0)
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_callback->ProcessEmptyScanContent(m_lists.content), "Failed to handle empty scan directories");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_PostProcessDirChange()
{
    if (!m_callback)
        return CKxError::Success();
    CBagPtr bag = GetConfigurationBag();
    if (bag && bag->GetBool(Id::idDisableDCCompare))
        FSLOG(0, "DirChange comparison has been disabled");
    std::shared_ptr<IPostProcessDirChange> postProcess;
    KX_RETURN_IF_FAILED(m_callback->GetPostProcessDirChangeInterface(postProcess), "Failed to process DirChange");
    if (postProcess)
        KX_RETURN_IF_FAILED(postProcess->Run(*m_callback), "Failed to process DirChange");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_PostProcessCollectFiles()
{
    if (!m_callback)
        return CKxError::Success();
    std::shared_ptr<CPostProcessCollectFiles> postProcess;
    KX_RETURN_IF_FAILED(m_callback->GetPostProcessCollectFilesInterface(postProcess), "Failed to process collect files");
    if (postProcess)
        KX_RETURN_IF_FAILED(postProcess->Run(), "Failed to process collect files");
    if (m_private)
        KX_RETURN_IF_FAILED(m_private->Cleanup_PostProcessCollectFiles(), "Failed to process collect file");
    KX_RETURN_IF_FAILED(m_callback->FlushBuffers(), "Failed to process scan_Failures.");
    std::shared_ptr<ISplitCollectFiles> splitter;
    KX_RETURN_IF_FAILED(m_callback->GetSplitCollectFileInterface(splitter), "Failed to split collect files");
    if (splitter) {
        KX_RETURN_IF_FAILED(splitter->Run(), "Failed to split collect files");
        m_splitWritten = splitter->WrittenFiles();
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_ApplyErrorRules()
{
    if (!m_callback)
        return CKxError::Success();
    std::string errorText, pattern;
    switch (m_callback->EvaluateScanFailureErrorRules(errorText, pattern)) {
    case ZvErrorControl::kFailPhase: {
        // The rest of the clean-up still runs: the outputs are closed in order, the phase fails.
        // A phase that failed before keeps its own cause.
        const std::string reason = KxFormat("Error rule [%s] fails the phase: %s", pattern.c_str(), errorText.c_str());
        FSLOG_ERROR("%s", reason.c_str());
        if (!isFailPhaseSet())
            FailPhase(reason);
        break;
    }
    case ZvErrorControl::kReport: {
        const std::string message = KxFormat("Error rule [%s] reports a failed item: %s", pattern.c_str(),
                                             errorText.c_str());
        FSLOG(0, "%s", message.c_str());
        RaiseEvent(kEventErrorRuleMatched, EvEvent::Major, message);
        break;
    }
    default: break;
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_ProcessIPhoto()
{
    return m_private ? m_private->ProcessIPhoto() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_PostProcessResultFolder()
{
    if (!m_callback)
        return CKxError::Success();
    std::shared_ptr<CFileSystemPostProcessResultFolder> step;
    KX_RETURN_IF_FAILED(m_callback->GetPostProcessResultFolderInterface(step),
                        "Failed to prepare instance to process job results folder");
    if (!step)
        return CKxError::Success();
    step->SetMayCompleteInScan(MayCompleteInScan());
    KX_RETURN_IF_FAILED(step->Prepare(GetScannerOptions(), m_callback),
                        "Failed to prepare instance to process job results folder");
    if (CKxError ran = step->Run(); ran.IsError()) {
        RaiseEvent(kEventResultsFolderFailed, EvEvent::Major, "Failed to process job results folder: " + ran.Message());
        return std::move(ran.Push("Failed to process job results folder"));
    }
    KX_RETURN_IF_FAILED(step->Finalize(), "Failed to finalize job results folder");
    // What was appended after the split counted its files: the evidence adds it rather than
    // reading those files back.
    for (const CCollectEvidence::SEntry& appended : step->AppendedFiles()) {
        auto kept = std::ranges::find(m_splitWritten, appended.name, &CCollectEvidence::SEntry::name);
        if (kept == m_splitWritten.end()) {
            m_splitWritten.push_back(appended);
            continue;
        }
        kept->lines += appended.lines;
        kept->bytes += appended.bytes;
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_CloseDirchange()
{
    if (m_callback)
        for (const COutputResourcesPtr& resource : m_callback->GetOutputResourcesList())
            if (auto record = std::dynamic_pointer_cast<IncrementalDirChange>(resource->GetDirChangeConsumer()))
                KX_RETURN_IF_ERROR(record->CloseFile());
    // The file keeps its temporary name: the backup phase puts it in place once it succeeded.
    KX_RETURN_IF_ERROR(IncrementalDirChange::Close());
    if (m_changeJournal && m_dirChangeIndex && m_fileNameFactory)
        KX_RETURN_IF_ERROR(m_changeJournal->Store(*m_dirChangeIndex, m_fileNameFactory->ScanFailedItemsCollect()));
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_CreateMountConfigFile()
{
    if (!m_callback || !m_fileNameFactory)
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_callback->CreateMountConfigFile(), "Failed to write MountConfig file");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_UpdateSyncFolder()
{
    CBagPtr bag = GetConfigurationBag();
    if (bag && bag->GetBool(Id::idLaptopClient))
        FSLOG(0, "There are no changed sync folders in this job");
    return CKxError::Success();
}

bool CScanJobFileSystem::MayCompleteInScan() const
{
    CBagPtr bag = GetConfigurationBag();
    // A full backup always has its backup phase.
    return (bag && bag->GetBool(Id::idOnDemandAdHocCriteriaBased)) ||
           (m_skipEmptyIncremental && m_backupType != kFullBackup);
}

bool CScanJobFileSystem::ShouldCompleteInScan()
{
    if (!m_callback)
        return false;
    for (const COutputResourcesPtr& resource : m_callback->GetOutputResourcesList())
        if (const CItemConsumerPtr& collect = resource->GetCollectConsumer())
            if (collect->getProcessedItemsCount() != 0)
                return false;
    return true;
}

CKxError CScanJobFileSystem::Cleanup_ScanMarkingJob()
{
    if (!MayCompleteInScan())
        return CKxError::Success();
    if (ShouldCompleteInScan())
        CompleteJobNow();
    if (!isCompleteJobNowSet())
        return CKxError::Success();
    // No backup phase follows: what it would put in place for the next job is done here.
    KX_RETURN_IF_ERROR(Cleanup_MarkTrueUpComplete());
    KX_RETURN_IF_ERROR(Cleanup_RenameDCAndOtherImportantFiles());
    return Cleanup_IncrementalAfterSynthFull();
}

CKxError CScanJobFileSystem::Cleanup_MarkTrueUpComplete()
{
    return m_private ? m_private->Cleanup_MarkTrueUpComplete() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_RenameDCAndOtherImportantFiles()
{
    if (!m_fileNameFactory)
        return CKxError::Success();
    CBagPtr bag = GetConfigurationBag();
    if (m_lastJobWasFull && !m_afterSynthFull) {
        const std::string from = m_fileNameFactory->ConsolidatedDirChange(1);
        const std::string to = m_fileNameFactory->ConsolidatedDirChange(2);
        if (FXFile::Exists(from)) {
            FSLOG(0, "Copy [%s] to [%s]", from.c_str(), to.c_str());
            (void)FXFile::Copy(from, to);
        }
    }
    if (bag && bag->GetBool(Id::idLaptopClient)) {
        const std::string to = m_fileNameFactory->SyncContentFile();
        const std::string from = to + ".tmp";
        if (FXFile::Exists(from)) {
            FSLOG(0, "Rename [%s] to [%s]", from.c_str(), to.c_str());
            CKxError renamed = FXFile::Rename(from, to);
            if (renamed.IsError())
                FSLOG_ERROR("Rename [%s] to [%s] failed: %s", from.c_str(), to.c_str(), renamed.AsString().c_str());
        }
    }
    // No backup phase follows to put this job's record in place for the next job.
    {
        const std::string from = m_fileNameFactory->ConsolidatedDirChangeTemp();
        const std::string to = m_fileNameFactory->ConsolidatedDirChange(2);
        if (FXFile::Exists(from)) {
            if (m_afterSynthFull)
                FSLOG(0, "Renaming [%s] to [%s] due to  scan marking in incremental after synthfull job.", from.c_str(),
                      to.c_str());
            else
                FSLOG(0, "Rename [%s] to [%s]", from.c_str(), to.c_str());
            CKxError renamed = FXFile::Rename(from, to);
            if (renamed.IsError())
                return std::move(renamed.Push(KxFormat("Failed to rename [%s] to [%s], error=%s", from.c_str(),
                                                       to.c_str(), renamed.Message().c_str())));
        }
    }
    return m_private ? m_private->Cleanup_RenameDCAndOtherImportantFiles() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_IncrementalAfterSynthFull()
{
    return m_private ? m_private->Cleanup_IncrementalAfterSynthFull() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_UploadMetadata() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Cleanup_FileServerTrueUpRestart()
{
    CBagPtr bag = GetConfigurationBag();
    if (!bag || !m_callback)
        return CKxError::Success();
    const int clientAppType = static_cast<int>(BagInteger(bag, Id::idClientAppType));
    if (!m_callback->IsFileServerClientScan(clientAppType) || !bag->GetBool(Id::idRestartScanForFileServerTrueUp))
        return CKxError::Success();
    // The scan runs again for the true-up: this run's outputs are closed now.
    KX_RETURN_IF_ERROR(Cleanup_FlushDirchangeToDisk());
    for (const COutputResourcesPtr& resource : m_callback->GetOutputResourcesList())
        if (auto record = std::dynamic_pointer_cast<IncrementalDirChange>(resource->GetDirChangeConsumer())) {
            FSLOG(0, "Closing DirChange file [%p]", static_cast<const void*>(record.get()));
            KX_RETURN_IF_ERROR(record->CloseFile());
        }
    m_callback->CleanupPreviousDirChangeInterface();
    KX_RETURN_IF_ERROR(Cleanup_CloseDirchange());
    return Cleanup_PostProcessCollectFiles();
}

CKxError CScanJobFileSystem::Cleanup_RevertImpersonation()
{
    return m_private ? m_private->RevertImpersonation() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_UpdateJobStatusForLaptopClient()
{
    CBagPtr bag = GetConfigurationBag();
    if (bag && bag->GetBool(Id::idLaptopClient))
        FSLOG(0, "Setting Total size and Total file count for Laptop2JobStatus");
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_UnmountSnapshotsAndShares()
{
    if (!m_private)
        return CKxError::Success();
    CKxError snap = m_private->Cleanup_NativeSnap();
    if (snap.IsError())
        FSLOG_ERROR("Failed to unmount native snapshots. %s", snap.AsString().c_str());
    CKxError shares = m_private->Cleanup_FileShareAutoMount();
    if (shares.IsError())
        FSLOG_ERROR("Failed to unmount Auto Mount Shares. %s", shares.AsString().c_str());
    return CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_TrueUp() { return CKxError::Success(); }

CKxError CScanJobFileSystem::Cleanup_DistributedBackup() { return CreateJRStateFile(); }

CKxError CScanJobFileSystem::Cleanup_PostCleanup()
{
    if (m_passes != 0)
        FSLOG(0, "Scan passes [%u], entries not walked [%llu]", m_passes,
              static_cast<unsigned long long>(m_unwalkedListed));
    return m_private ? m_private->Cleanup_PostCleanup() : CKxError::Success();
}

CKxError CScanJobFileSystem::Cleanup_PrintStaleMountList()
{
    return m_private ? m_private->PrintStaleMountList() : CKxError::Success();
}

CKxError CScanJobFileSystem::CopyJRFolderAfterScanIfRequested()
{
    std::uint32_t copy = 0;
    if (!ZVPlatformInfo::getNumber(CScannerSettings::kSection, "CopySubclientJobResultsFolderAfterScan", copy) ||
        copy != 1 || m_subclientResultsFolder.empty())
        return CKxError::Success();
    FSLOG(0, "CopySubclientJobResultsFolderAfterScan is set to 1.");
    const std::string target = m_subclientResultsFolder + KxFormat("-J%s-AfterScan", m_jobToken.c_str());
    CKxError created = FXFile::CreateDirectories(target);
    if (created.IsError())
        return std::move(created.Push(KxFormat("Failed to create folder: %s", target.c_str())));
    std::error_code failure;
    std::filesystem::copy(m_subclientResultsFolder, target,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing,
                          failure);
    if (failure)
        return CKxError(failure.value(), KxFormat("Failed to copy %s to %s", m_subclientResultsFolder.c_str(),
                                                  target.c_str()));
    FSLOG(0, "JobResult folder is successfully copied to %s", target.c_str());
    return CKxError::Success();
}

void CScanJobFileSystem::PrintSummary()
{
    if (!m_callback || m_passes == 0)
        return;
    SScanStats stats;
    if (m_callback->GetScanStats(stats).IsError())
        return;
    std::uint64_t failures = 0;
    CScanFailureConsumerPtr consumer;
    if (m_callback->GetScanFailureConsumer(consumer).IsSuccess() && consumer)
        failures = consumer->getProcessedItemsCount();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_jobStart).count();
    const std::string line = CScanProgress::FormatSummary(static_cast<std::uint64_t>(stats.totalItems), stats.folders,
                                                          stats.dataSize, failures, seconds);
    FSLOG(0, "%s", line.c_str());
    if (m_progress) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}
