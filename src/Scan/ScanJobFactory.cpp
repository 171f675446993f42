#include "Scan/ScanJobFactory.h"

#include "Agent/ApplicationId.h"
#include "Agent/Arguments.h"
#include "Agent/CommandLineArguments.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Scan/AnalyticsScanJobs.h"
#include "Scan/Archiving/ArchivingScanJobs.h"
#include "Scan/ArchivumCallback.h"
#include "Scan/BlockLevel/SnapBackupScanJobs.h"
#include "Scan/BlockLevel/SnapCatalogScanJobs.h"
#include "Scan/ContentIndexScanJobs.h"
#include "Scan/Dirchange/ScanJobFileSystemCallbackSQLiteDirchange.h"
#include "Scan/Dirchange/ScanJobFileSystemSQLiteDirchange.h"
#include "Scan/ObjectStoreMigrationScanJobs.h"
#include "Scan/OnDemandScanJobs.h"
#include "Scan/ScanJobDDB.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScanJobCallbackProxyClient.h"
#include "Scan/ScanJobProxyClient.h"
#include "Scan/SnapDiff/SnapDiffScanJobs.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <cstdlib>
#include <strings.h>

namespace {
constexpr const char* kAgentSection = "FileSystemAgent";
using T = EScanJobType;

// An agent setting counts as present when the store answers it as a number.
bool GetSetting(const char* key, std::uint32_t& value) { return ZVPlatformInfo::getNumber(kAgentSection, key, value); }

bool SettingEquals(const char* key, std::uint32_t expected)
{
    std::uint32_t value = 0;
    return GetSetting(key, value) && value == expected;
}

bool IsFileSystemAppType(unsigned long appType)
{
    switch (appType) {
    case 17: case 19: case 21: case 29: case 36: case 63: case 74: case 106:
        return true;
    default:
        return false;
    }
}

// Last resort of the file-system rules: file analytics when the agent is set up for it.
EScanJobType AnalyticsOr(EScanJobType fallback)
{
    std::uint32_t value = 0;
    if (GetSetting("RunFileAnalytics", value)) {
        FSLOG(0, "RunFileAnalytics=%u", value);
        return T::eFileAnalytics;
    }
    return fallback;
}
}  // namespace

CScanJobFactory::CScanJobFactory(const std::string& instance) : m_instance(instance) {}

CScanJobFactory::~CScanJobFactory() = default;

EScanJobType CScanJobFactory::IdentifyScanJobType(CCommandLineArgumentsPtr args)
{
    FSTRACE();
    m_configurationError = CKxError::Success();
    std::string applicationIdText;
    CKxError error = args ? CArguments::GetApplicationId(args, applicationIdText)
                          : CKxError(KxCode::InvalidParameter, "No command line given");
    if (error.IsError()) {
        FSLOG_ERROR("GetApplicationId failed, error=%s", error.AsString().c_str());
        return T::eUndetermined;
    }
    ApplicationId application(applicationIdText);
    error = application.getApplicationId();
    if (error.IsError()) {
        FSLOG_ERROR("getApplicationId failed, ApplicationId=%s, error=0x%X", applicationIdText.c_str(),
                    static_cast<unsigned>(error.Code()));
        m_configurationError = std::move(error);
        return T::eUndetermined;
    }
    unsigned long appType = 0;
    error = application.getAppType(appType);
    if (error.IsError()) {
        FSLOG_ERROR("getAppType failed, ApplicationId=%s, error=0x%X", applicationIdText.c_str(),
                    static_cast<unsigned>(error.Code()));
        return T::eUndetermined;
    }

    EScanJobType type = T::eUndetermined;
    if (appType == 1000) {
        FSLOG(0, "Hubrixer DR job");
        type = T::eDisasterRecoveryFileSystem;
    } else if (appType == 124) {
        type = T::eVirtualRepository;
    } else if (appType == 64) {
        type = IdentifyScanJobTypeFromCommandLine(args);
        if (type == T::eStub)
            type = IdentifyFileArchivingJob(application);
        else if (type != T::eContentIndexCloud && type != T::eContentIndexLocal)
            type = T::eFileSystem;
    } else if (IsFileSystemAppType(appType)) {
        type = IdentifyScanJobTypeFromCommandLine(args);
        if (type == T::eStub)
            type = IdentifyFileArchivingJob(application);
        else if (type == T::eStubSynthFull)
            type = T::eStubSynthFullJob;
        else if (type == T::eSnapCatalog || type == T::eSnapDeferredCatalog || type == T::eSnapBackupWithScan)
            type = IdentifySnapDiffJob(application, m_instance, args, type.Value());
        if (type == T::eUndetermined)
            type = IdentifyScanJobTypeFromAppMgr(application);
        if (type == T::eUndetermined)
            type = AnalyticsOr(T::eFileSystem);
    } else if (appType == 38) {
        std::shared_ptr<Client> client = application.getClient();
        if (!client) {
            FSLOG_ERROR("Failed to get client information [getClient] for Application ID [%s] Error [%d]",
                        applicationIdText.c_str(), static_cast<int>(application.getLastErrorCode()));
            return T::eUndetermined;
        }
        std::shared_ptr<ClientProperties> properties = application.getClientProperties();
        if (!properties) {
            FSLOG_ERROR("Failed to get client information [getClientProperties] for Application ID [%s] Error [%d]",
                        applicationIdText.c_str(), static_cast<int>(application.getLastErrorCode()));
            return T::eUndetermined;
        }
        FSLOG(0, "Client=0x%p, ClientProperties=0x%p", static_cast<void*>(client.get()),
              static_cast<void*>(properties.get()));
        int proxyClientId = 0;
        const bool read = client->getOpenVMSProxyClientId(proxyClientId).IsSuccess();
        if (!read || proxyClientId <= 0) {
            FSLOG_ERROR("Failed to get client information [getOpenVMSProxyClientId], ApplicationId=%s, ProxyClientId=%d",
                        applicationIdText.c_str(), proxyClientId);
            return T::eUndetermined;
        }
        FSLOG(0, "ProxyClientId=%d", proxyClientId);
        type = T::eProxyClient;
    } else if (appType == 33 || appType == 34 || appType == 42 || appType == 43) {
        type = IdentifyScanJobTypeFromCommandLine(args);
        if (type == T::eSnapCatalog)
            type = IdentifySnapCatalogDirectJob(application);
        if (type == T::eUndetermined)
            type = IdentifyScanJobTypeFromAppMgr(application);
        if (type == T::eUndetermined)
            type = AnalyticsOr(T::eFileSystemOtherApp);
    } else if (appType == 5 || appType == 22 || appType == 80 || appType == 104 || appType == 125) {
        std::shared_ptr<Subclient> subclient = application.getSubclient();
        int blockLevel = 0;
        if (subclient && subclient->getBlockLevelBackup(blockLevel).IsSuccess() && blockLevel == 1) {
            type = IdentifyScanJobTypeFromCommandLine(args);
            if (type == T::eUndetermined)
                type = IdentifyScanJobTypeFromAppMgr(application);
        }
    } else if (appType == 135) {
        std::uint32_t extentBackup = 0;
        if (GetSetting("bEnableFileExtentBackup", extentBackup) && extentBackup != 0) {
            FSLOG(0, "The additional setting [%s] is set, value=[%u]", "bEnableFileExtentBackup", extentBackup);
            type = T::eExtentSnapBackupWithScan;
        } else {
            FSLOG(0, "Will use the old scanner as extent based backup is not setup.");
        }
    }

    FSLOG(2, "ScanJobType=%s for ulAppType=%lu", type.AsString().c_str(), appType);

    if (type == T::eFileSystem && SettingEquals("nUseSQLiteDirchange", 1))
        m_useSQLite = true;
    return type;
}

EScanJobType CScanJobFactory::IdentifyScanJobTypeFromCommandLine(CCommandLineArgumentsPtr args)
{
    if (!args)
        return T::eUndetermined;
    bool delayedCatalog = false;
    std::uint32_t delayCatalog = 0;
    if (GetSetting("nDelayCatalog", delayCatalog) && delayCatalog != 0) {
        delayedCatalog = true;
        FSLOG(0, "Registry key set to force DelayCatlaog in backup copy job");
    }
    const auto has = [&args](const char* name) { return args->GetOption(name); };

    if (has("snap") && has("BlockLevel"))
        return T::eSnapCatalogBlockLevel;
    if (has("snaptape")) {
        std::string attrEx;
        if (args->GetOption("attrEx", attrEx) && std::strtol(attrEx.c_str(), nullptr, 0) != 0)
            return delayedCatalog ? T::eSnapCatalogBlockLevel : T::eSnapBackupBlockLevel;
        if (has("dcs"))
            return T::eSnapBackupWithScan;
        return delayedCatalog ? T::eSnapCatalog : T::eSnapBackup;
    }
    if (has("snap") && has("dc"))
        return T::eSnapDeferredCatalog;
    if (has("snap"))
        return T::eSnapCatalog;
    if (has("stub"))
        return has("synthFull") ? T::eStubSynthFull : T::eStub;
    if (has("rpId") && has("rpJId")) {
        FSLOG(0, "CDR job.");
        return T::eDisasterRecoveryCopy;
    }
    if (has("fla"))
        return T::eFileAnalytics;
    if (has("vmCI"))
        return T::eVirtualServerAnalytics;
    if (has("vmCatalog"))
        return T::eVirtualServerCatalog;
    if (has("BlkOfflineCat"))
        return T::eBlockLevelOfflineCatalog;
    if (has("emg") && SettingEquals("nObjectStoreMigration", 1))
        return T::eObjectStoreMigration;
    std::string package;
    if (args->GetOption("pkg", package) && strcasecmp(package.c_str(), "Solr") == 0)
        return has("SolrC") ? T::eContentIndexCloud : T::eContentIndexLocal;
    return T::eUndetermined;
}

EScanJobType CScanJobFactory::IdentifyScanJobTypeFromAppMgr(ApplicationId& application)
{
    std::shared_ptr<FileSystemBackupSet> backupSet = application.getBackupSet();
    if (!backupSet) {
        FSLOG_ERROR("getBackupSet failed, error=%u", static_cast<unsigned>(application.getLastErrorCode()));
        return T::eUndetermined;
    }
    bool yes = false;
    if (backupSet->isRejectedKind(yes).IsSuccess() && yes)
        return T::eRejectedBackupSetKind;
    yes = false;
    if (backupSet->isOnDemandKind(yes).IsSuccess() && yes)
        return T::eOnDemandBackupSet;

    std::shared_ptr<Subclient> subclient = application.getSubclient();
    if (!subclient) {
        FSLOG_ERROR("getSubclient failed, error=%u", static_cast<unsigned>(application.getLastErrorCode()));
        return T::eUndetermined;
    }
    yes = false;
    if (subclient->isDDBBackup(yes).IsSuccess() && yes)
        return T::eDedupDatabase;

    std::shared_ptr<Client> client = application.getClient();
    if (!client)
        return T::eUndetermined;
    yes = false;
    if (client->isQuillboxClient(yes).IsSuccess() && yes)
        return T::eQuillboxClient;
    return T::eUndetermined;
}

EScanJobType CScanJobFactory::IdentifyFileArchivingJob(ApplicationId& application)
{
    if (!SettingEquals("DeleteFileJob", 1))
        return T::eArchiving;
    FSLOG(0, "File archiving delete job additional setting found, checking subclient settings");
    std::shared_ptr<Subclient> subclient = application.getSubclient();
    if (!subclient) {
        FSLOG(0, "Cannot get subclient object, assuming regular file archiving job");
        return T::eArchiving;
    }
    int deleteWithoutBackup = 0;
    if (subclient->getDeleteFilesWithoutBackup(deleteWithoutBackup).IsSuccess() && deleteWithoutBackup == 1) {
        FSLOG(0, "Subclient setting set to delete files without backup");
        return T::eArchivingDelete;
    }
    FSLOG(0, "Subclient setting not set to delete files without backup, runnning regular file archiving job");
    return T::eArchiving;
}

EScanJobType CScanJobFactory::IdentifySnapCatalogDirectJob(ApplicationId& application)
{
    std::uint32_t directIndex = 0;
    if (GetSetting("RunSnapCatalogDirectIndex", directIndex)) {
        FSLOG(0, "RunSnapCatalogDirectIndex = [%u]", directIndex);
        return T::eSnapCatalogDirectCopy;
    }
    std::shared_ptr<Subclient> subclient = application.getSubclient();
    if (!subclient) {
        FSLOG_ERROR("getSubclient failed, error=%u", static_cast<unsigned>(application.getLastErrorCode()));
        return T::eSnapCatalog;
    }
    constexpr int kDirectCopySnapEngine = 81;
    int snapEngine = 0;
    if (subclient->getSnapEngine(snapEngine).IsSuccess() && snapEngine == kDirectCopySnapEngine)
        return T::eSnapCatalogDirectCopy;
    return T::eUndetermined;
}

EScanJobType CScanJobFactory::IdentifySnapDiffJob(ApplicationId&, const std::string&, CCommandLineArgumentsPtr,
                                                  long long jobType)
{
    // Comparing two snapshots needs a storage array's difference service, which this agent
    // does not drive: the job stays the snapshot job it is.
    return EScanJobType::FromNumber(static_cast<unsigned>(jobType));
}

CScanJobPtr CScanJobFactory::CreateScanJob(EScanJobType type)
{
    CScanJobPtr job = CreateScanJobObject(type);
    if (job)
        job->SetInstance(m_instance);
    return job;
}

CScanJobPtr CScanJobFactory::CreateScanJobObject(EScanJobType type)
{
    switch (type) {
    case T::eClientOnDemand: return std::make_shared<CScanJobClientOnDemand>();
    case T::eDisasterRecoveryFileSystem:
    case T::eFileSystemOtherApp:
    case T::eVirtualRepository:
        return std::make_shared<CScanJobFileSystem>();
    case T::eFileSystem:
        if (m_useSQLite) {
            FSLOG(0, "Using SQLite based ScanJob");
            return std::make_shared<CScanJobFileSystemSQLiteDirchange>();
        }
        return std::make_shared<CScanJobFileSystem>();
    case T::eOnDemandBackupSet: return std::make_shared<CScanJobOnDemand>();
    case T::eSnapBackup: return std::make_shared<CScanJobSnapBackup>();
    case T::eSnapCatalog: return std::make_shared<CScanJobSnapCatalog>();
    case T::eProxyClient: return std::make_shared<CScanJobProxyClient>();
    case T::eDedupDatabase: return std::make_shared<CScanJobDDB>();
    case T::eSnapDeferredCatalog: return std::make_shared<CScanJobSnapDeferredCatalog>();
    case T::eFileAnalytics: return std::make_shared<CScanJobAnalytics>();
    case T::eContentIndexCloud: return std::make_shared<CScanJobSolrCloud>();
    case T::eVirtualServerAnalytics:
    case T::eVirtualServerCatalog:
        return std::make_shared<CScanJobVSAAnalytics>();
    case T::eSnapCatalogBlockLevel: return std::make_shared<CScanJobSnapCatalogBlockLevel>();
    case T::eSnapBackupBlockLevel: return std::make_shared<CScanJobSnapBackupBlockLevel>();
    case T::eArchiving: return std::make_shared<CUnixScanJobFileSystemTandem>();
    case T::eSnapDiffCatalog: return std::make_shared<CScanJobSnapCatalogSnapDiff>();
    case T::eSnapBackupWithScan: return std::make_shared<CScanJobSnapBackupWithScan>();
    case T::eObjectStoreMigration: return std::make_shared<CScanJobObjectStoreMigration>();
    case T::eBlockLevelOfflineCatalog: return std::make_shared<CScanJobBlkLvlCatalog>();
    case T::eSnapCatalogDirectCopy: return std::make_shared<CScanJobSnapCatalogDirectCopy>();
    case T::eContentIndexLocal: return std::make_shared<CScanJobZvSolr>();
    case T::eExtentSnapBackupWithScan: return std::make_shared<CScanJobSnapBackupWithScanDB>();
    case T::eArchivingDelete: return std::make_shared<CScanJobFileArchivingDelete>();
    default: return nullptr;
    }
}

CScanJobCallbackPtr CScanJobFactory::CreateScanJobCallback(EScanJobType type)
{
    switch (type) {
    case T::eDisasterRecoveryFileSystem: return std::make_shared<CUnixScanJobCallback>();
    case T::eFileSystem:
        if (m_useSQLite) {
            FSLOG(0, "Using SQLite based ScanJobCallback");
            return std::make_shared<CScanJobFileSystemCallbackSQLiteDirchange>();
        }
        return std::make_shared<CUnixScanJobCallback>();
    case T::eOnDemandBackupSet: return std::make_shared<CUnixScanJobOnDemandCallback>();
    case T::eSnapBackup: return std::make_shared<CScanJobSnapBackupCallback>();
    case T::eSnapCatalog: return std::make_shared<CScanJobSnapCatalogCallback>();
    case T::eVirtualRepository: return std::make_shared<ArchivumCallback>();
    case T::eProxyClient: return std::make_shared<CScanJobCallbackProxyClient>();
    case T::eDedupDatabase: return std::make_shared<CScanJobDDBCallback>();
    case T::eSnapDeferredCatalog: return std::make_shared<CScanJobSnapDeferredCatalogCallback>();
    case T::eFileAnalytics: return std::make_shared<CScanJobAnalyticsCallback>();
    case T::eContentIndexCloud: return std::make_shared<CScanJobCallbackSolrCloud>();
    case T::eVirtualServerAnalytics:
    case T::eVirtualServerCatalog:
        return std::make_shared<CScanJobVSAAnalyticsCallback>();
    case T::eSnapCatalogBlockLevel: return std::make_shared<CScanJobSnapCatalogCallbackBlockLevel>();
    case T::eSnapBackupBlockLevel: return std::make_shared<CScanJobSnapBackupCallbackBlockLevel>();
    case T::eArchiving: return std::make_shared<CScanFileSystemTandemJobCallback>();
    case T::eSnapDiffCatalog: return std::make_shared<CScanJobSnapCatalogSnapDiffCallback>();
    case T::eSnapBackupWithScan: return std::make_shared<CScanJobSnapBackupWithScanCallback>();
    case T::eObjectStoreMigration: return std::make_shared<CScanJobObjectStoreMigrationCallback>();
    case T::eBlockLevelOfflineCatalog: return std::make_shared<CScanJobBlkLvlCatalogCallback>();
    case T::eSnapCatalogDirectCopy: return std::make_shared<CScanJobSnapCatalogDirectIndexCallback>();
    case T::eContentIndexLocal: return std::make_shared<CScanJobCallbackZvSolr>();
    case T::eExtentSnapBackupWithScan: return std::make_shared<CScanJobSnapBackupWithScanCallbackDB>();
    case T::eArchivingDelete: return std::make_shared<CScanJobFileArchivingDeleteCallback>();
    default: return nullptr;
    }
}

CKxError CScanJobFactory::GetAppType(CCommandLineArgumentsPtr args, unsigned long& appType)
{
    std::string applicationIdText;
    KX_RETURN_IF_FAILED(args ? CArguments::GetApplicationId(args, applicationIdText)
                             : CKxError(KxCode::InvalidParameter, "No command line given"),
                        "GetApplicationId failed");
    ApplicationId application(applicationIdText);
    KX_RETURN_IF_FAILED(application.getApplicationId(), "getApplicationId failed, ApplicationId=%s",
                        applicationIdText.c_str());
    CKxError error = application.getAppType(appType);
    if (error.IsError())
        return std::move(error.Push(KxFormat("getAppType failed, ApplicationId=%s, error=0x%X",
                                             applicationIdText.c_str(), static_cast<unsigned>(error.Code()))));
    return CKxError::Success();
}
