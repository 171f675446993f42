#include "Scan/ScannerOptions.h"

#include <cctype>
#include <new>
#include <string_view>

#include "Agent/App_MiscOptions.h"
#include "Agent/ApplicationId.h"
#include "Agent/AutoStreamHandler.h"
#include "Agent/BackupJobClient.h"
#include "Agent/DistributedSubclient.h"
#include "Agent/EvEvent.h"
#include "Agent/FSJobResultCleanup.h"
#include "Agent/GPFSSubclient.h"
#include "Agent/IndexingVersion.h"
#include "Agent/OvaBackup.h"
#include "Agent/XJob.h"
#include "Agent/ZVPI_Focus.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FunctionTrace.h"
#include "Scan/FileExtentOptions.h"
#include "Scan/HadoopInstanceCtx.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"
#include "Scan/ZVMMSnapAPI.h"
#include "Scan/ZVPassword.h"

namespace {
namespace Bag = SXScannerConfigurationBagId;
using S = CScannerSettings;

constexpr const char* kOrbundIdKey = "orbundId";
constexpr const char* kAutoSubclientDirCleanupKey = "bEnableAutoSubclientDirCleanup";

constexpr int kClusterHadoop = 2;
constexpr int kClusterGpfs = 3;
constexpr int kClusterGluster = 11;
constexpr int kClusterLustre = 13;

constexpr int kClientAppNutanixPseudo = 2;

constexpr std::uint32_t kEventHadoopInitFailed = 0x1100000A;
constexpr std::uint32_t kEventNutanixHostInfo = 0x1100009D;
constexpr int kMiscOptionFailedFilesInIndex = 39;
constexpr unsigned int kDefaultBaseVersion = 11;

CKxError ConfigurationError(const char* message)
{
    return CKxError(KxCode::UnknownProduct, message);
}

const char* YesNo(bool value) { return value ? "Yes" : "No"; }
const char* EnabledDisabled(bool value) { return value ? "enabled" : "disabled"; }

// "  Release 11 " -> 11. False when nothing numeric is left.
bool ParseBaseVersion(std::string text, unsigned int& version)
{
    const char* blanks = " \t\r\n";
    size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos)
        return false;
    text = text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
    constexpr std::string_view prefix = "release ";
    if (text.size() >= prefix.size()) {
        bool match = true;
        for (size_t i = 0; i < prefix.size() && match; ++i)
            match = std::tolower(static_cast<unsigned char>(text[i])) == prefix[i];
        if (match)
            text = text.substr(prefix.size());
    }
    size_t digits = 0;
    unsigned long long value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && value <= 0xFFFFFFFFull) {
        value = value * 10 + static_cast<unsigned>(text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || value > 0xFFFFFFFFull)
        return false;
    version = static_cast<unsigned int>(value);
    return true;
}
}  // namespace

CScannerOptions::CScannerOptions() : m_bag(std::make_shared<CBag>()) {}

CScannerOptions::~CScannerOptions() = default;

CKxError CScannerOptions::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    CBag& bag = *m_bag;

    std::shared_ptr<ApplicationId> appId;
    try {
        appId = std::make_shared<ApplicationId>(applicationId);
    } catch (const std::bad_alloc&) {
        return CKxError(KxCode::OutOfMemory, "Failed to allocate memory for ApplicationId");
    }

    uint64_t appNumber = 0;
    if (CKxError e = appId->getAppId(appNumber); e.IsError())
        return CKxError(KxCode::UnknownProduct, KxFormat("getAppId failed, error=%d", static_cast<int>(e.Code())))
            .Push(e.AsString());
    uint64_t orbundId = 0;
    if (CKxError e = appId->getOrbundId(orbundId); e.IsError())
        return CKxError(KxCode::UnknownProduct, KxFormat("getOrbundId failed, error=%d", static_cast<int>(e.Code())))
            .Push(e.AsString());
    unsigned long appType = 0;
    if (CKxError e = appId->getAppType(appType); e.IsError())
        return CKxError(KxCode::UnknownProduct, KxFormat("getAppType failed, error=%d", static_cast<int>(e.Code())))
            .Push(e.AsString());
    std::shared_ptr<Subclient> subclient = appId->getSubclient();
    if (!subclient)
        return ConfigurationError("getSubclient failed");
    S::Put(bag, kOrbundIdKey, static_cast<unsigned long long>(orbundId));
    m_applicationId = appId;
    m_appType = appType;

    bool collectAcl = false;
    if (CKxError e = subclient->isCollectAcl(collectAcl); e.IsError())
        FSLOG(0, "isCollectAcl failed, error=%d", static_cast<int>(e.Code()));
    S::Put(bag, Bag::idCollectACL, collectAcl);

    // True-up.
    std::uint32_t skipTrueUp = 0;
    S::GetNumber("nSkipTrueUp", skipTrueUp);
    bool trueUpEnabled = false;
    std::uint32_t trueUpDays = 0, trueUpJobs = 0;
    if (CKxError e = subclient->getTrueUpOptions(trueUpEnabled, trueUpDays, trueUpJobs); e.IsError()) {
        FSLOG(0, "getTrueUpOptions failed, error=%d", static_cast<int>(e.Code()));
        trueUpEnabled = false;
        trueUpDays = trueUpJobs = 0;
    }
    S::Put(bag, Bag::idTrueUpSkipped, static_cast<unsigned int>(skipTrueUp));
    S::Put(bag, Bag::idTrueUpEnabled, trueUpEnabled);
    S::Put(bag, Bag::idDaysToTrueUp, static_cast<unsigned int>(trueUpDays));
    S::Put(bag, Bag::idJobsToTrueUp, static_cast<unsigned int>(trueUpJobs));
    FSLOG(0, "TrueUpEnabled[%s] DaysToRunTrueup[%d] JobsToRunTrueup[%d]", YesNo(trueUpEnabled),
          static_cast<int>(trueUpDays), static_cast<int>(trueUpJobs));

    // Nodes, streams and scan type.
    const bool distributedMode = bag.GetBool(Bag::idDistributedFSMode);
    unsigned int nodeCount = 0;
    int configValue = 0;
    KX_RETURN_IF_FAILED(GetDANInformation(appId, nodeCount, configValue), "GetDANInformation failed (distributed=%d)",
                        distributedMode ? 1 : 0);
    KX_RETURN_IF_FAILED(ConfigureStreams(appId), "ConfigureStreams failed");
    std::shared_ptr<SubclientConf> subclientConf = appId->getSubclientConf();
    if (!subclientConf)
        return ConfigurationError("getSubclientConf failed");
    KX_RETURN_IF_FAILED(LoadScanType(appType, subclientConf.get()), "LoadScanType failed");

    LoadEmptyFolderAndAccessTimeSwitches(*subclient);

    // Client.
    std::shared_ptr<Client> client = appId->getClient();
    if (!client)
        return ConfigurationError("getClient failed");
    uint64_t clientId = 0;
    if (client->getClientId(clientId).IsError())
        return ConfigurationError("Failed to fetch client ID");
    FSLOG(0, "Client ID - %lu", static_cast<unsigned long>(clientId));
    S::Put(bag, Bag::idClientID, static_cast<unsigned long long>(clientId));
    std::shared_ptr<ClientProperties> clientProperties = appId->getClientProperties();
    if (!clientProperties)
        return ConfigurationError("getClientProperties failed");
    bool laptop = false;
    if (CKxError e = clientProperties->isLaptopClient(laptop); e.IsError())
        FSLOG(0, "isLaptopClient failed, error=%d", static_cast<int>(e.Code()));
    S::Put(bag, Bag::idLaptopClient, laptop);

    // Index version.
    bool indexV2 = false;
    if (CKxError e = shouldUseIndexingV2(appNumber, orbundId, indexV2); e.IsError()) {
        FSLOG(0, "shouldUseIndexingV2 failed, error=%s", e.AsString().c_str());
        indexV2 = false;
    }
    S::Put(bag, Bag::idIndexV2, indexV2);
    if (!bag.GetBool(Bag::idIncrImageMode) && indexV2) {
        S::Put(bag, Bag::idIncrImageMode, true);
        FSLOG(0, "Enabling incremental image mode for IndexV2");
    }

    LoadSettingsSwitches(*subclient, clientId);

    KX_RETURN_IF_ERROR(LoadHadoopConfiguration(applicationId));

    std::uint32_t mtScanThreads = 0;
    const bool mtScanThreadsPresent = S::GetNumber("MTScanThreads", mtScanThreads);
    if (mtScanThreadsPresent) {
        S::Put(bag, Bag::idMaxScanThreads, static_cast<unsigned int>(mtScanThreads));
        FSLOG(0, "%s is set to %u in registry", "MTScanThreads", mtScanThreads);
    }

    bool folderLevel = false;
    if (CKxError e = subclient->isFolderLevelMultithreadEnabled(folderLevel); e.IsError())
        folderLevel = false;
    if (folderLevel) {
        std::uint32_t threads = 0;
        if (CKxError e = subclient->getFolderLevelThreads(threads); e.IsError())
            threads = 0;
        S::Put(bag, Bag::idEnableFolderLevelMultithread, true);
        S::Put(bag, Bag::idMaxWorkers, static_cast<unsigned int>(threads));
        FSLOG(0, "EnableFolderLevelMultithread : YES");
        FSLOG(0, "MaxFolderLevelThreads: %u", threads);
    } else {
        FSLOG(0, "EnableFolderLevelMultithread : NO");
    }

    S::Put(bag, Bag::idLoadContentFile, true);

    if (auto distributed = std::dynamic_pointer_cast<DistributedSubclient>(subclient)) {
        LoadDistributedConfiguration(*distributed, mtScanThreadsPresent && mtScanThreads != 0, folderLevel);
    } else {
        std::uint32_t registeredClientId = 0;
        const bool present = S::GetNumber("nCLIENTID", registeredClientId);
        if ((!present || registeredClientId == 0) && clientId != 0) {
            ZVPlatformInfo::setNumber(S::kSection, "nCLIENTID", static_cast<std::uint32_t>(clientId));
            FSLOG(0, "Setting clientid [%lu] in registry", static_cast<unsigned long>(clientId));
        }
    }

    if (distributedMode) {
        const long long lastJobId = bag.Get<long long>(Bag::idLastJobID, 0);
        const bool fromIndex = ShouldUseIndexForFailedFiles(lastJobId, static_cast<unsigned long>(appNumber));
        S::Put(bag, Bag::idFailedFilesInIndex, fromIndex);
        FSLOG(0, "We'll %senumerate failed files from Index to re-try in this backup", fromIndex ? "" : "not ");
    }

    KX_RETURN_IF_FAILED(ConfigureFileExtent(subclient.get(), m_bag), "ConfigureFileExtent failed");
    KX_RETURN_IF_FAILED(ConfigureClientAppType(), "ConfigureClientAppType failed");
    KX_RETURN_IF_FAILED(LoadNutanixConfiguration(appId), "LoadNutanixConfiguration failed");
    KX_RETURN_IF_FAILED(ConfigureSubclientDirCleanup(), "ConfigureSubclientDirCleanup failed");
    return CKxError::Success();
}

void CScannerOptions::LoadEmptyFolderAndAccessTimeSwitches(const Subclient& subclient)
{
    CBag& bag = *m_bag;
    std::uint32_t includeEmpty = 0;
    if (S::GetNumber("nIncludeEmptyFoldersInIncrementalBackup", includeEmpty))
        FSLOG(0, "%s = [%lu]", "nIncludeEmptyFoldersInIncrementalBackup", static_cast<unsigned long>(includeEmpty));
    S::Put(bag, Bag::idIncludeEmptyFoldersInIncrementalBackup, includeEmpty != 0);

    bool preserveATime = false;
    if (subclient.isPreserveFileAccessTimes(preserveATime).IsError()) {
        FSLOG(0, "isPreserveFileAccessTimes() failed, we would use default FALSE for preserver atime");
        preserveATime = false;
    }
    S::Put(bag, Bag::idPreserveATime, preserveATime);

    bool afterDateSet = false;
    uint64_t afterDate = 0;
    if (subclient.getBackupAfterDate(afterDateSet, afterDate).IsSuccess() && afterDateSet)
        S::Put(bag, Bag::idBackupAfterDate, static_cast<unsigned long long>(afterDate));
}

void CScannerOptions::LoadSettingsSwitches(const Subclient& subclient, uint64_t clientId)
{
    CBag& bag = *m_bag;

    std::uint32_t autoExpand = 1;
    S::GetNumber("OnDemand_AutoExpandDir", autoExpand);
    S::Put(bag, Bag::idOnDemandAutoExpandDirs, autoExpand != 0);
    FSLOG(0, "%s=[%u]", "OnDemand_AutoExpandDir", autoExpand);
    FSLOG(0, "OnDemandAutoExpandDirs=%s", autoExpand != 0 ? "true" : "false");

    // PST files are evaluated by default only for the scan kinds that meet mail archives.
    const long long jobType = S::GetInteger(bag, Bag::idJobType, 0);
    std::uint32_t usePst =
        (jobType == 3 || jobType == 4 || jobType == 13 || jobType == 14 || jobType == 21 || jobType == 31 ||
         jobType == 32)
            ? 1
            : 0;
    S::GetNumber("UsePSTFileEvaluator", usePst);
    S::Put(bag, Bag::idUsePSTEvaluator, usePst != 0);
    FSLOG(0, "UsePSTFileEvaluator= [%u]", usePst);

    std::string preserveATime;
    S::GetString("sPreserveATime", preserveATime);
    if (preserveATime.empty() || S::StartsWith(preserveATime, 'N')) {
        S::Put(bag, Bag::idPreserveATimeThroughRegKey, false);
    } else if (S::StartsWith(preserveATime, 'Y')) {
        S::Put(bag, Bag::idPreserveATimeThroughRegKey, true);
        FSLOG(0, "Preserve Access Times for FS is enabled through registry key : [sPreserveATime]=[Y]");
    }

    bool expandSymLinks = false;
    if (subclient.isFollowSymbolicLinkEnabled(expandSymLinks).IsError()) {
        FSLOG(0, "Unable to get option FollowSymbolicLink");
        expandSymLinks = false;
    }
    if (expandSymLinks)
        S::Put(bag, Bag::idEnhancedSymbolicLinkIdentification, true);
    FSLOG(0, "Expand symbolic links path is %s.", EnabledDisabled(expandSymLinks));

    const bool followSymLinks = S::IsSet("nBackupSymLinkData");
    if (followSymLinks)
        S::Put(bag, Bag::idFollowSymLink, true);
    FSLOG(0, "Follow symbolic links path is %s", EnabledDisabled(followSymLinks));

    S::Put(bag, Bag::idLongPathFlag, true);
    std::string longPath;
    if (S::GetString("sSupportLongPath", longPath)) {
        if (S::StartsWith(longPath, 'N'))
            S::Put(bag, Bag::idLongPathFlag, false);
        FSLOG(0, "%s is set to: %s", "sSupportLongPath", longPath.c_str());
    }
    S::Put(bag, Bag::idProcessLongPaths, true);

    bool appleDouble = false;
    if (subclient.isAppleDoubleSupportEnabled(appleDouble).IsError())
        appleDouble = false;
    S::Put(bag, Bag::idAppleDouble, appleDouble);
    FSLOG(0, "Apple Double Support: %s", EnabledDisabled(appleDouble));

    std::string clusterFilter;
    S::GetString("sClusteredFSFilter", clusterFilter);
    const bool clusterFilterOn = S::StartsWith(clusterFilter, 'Y');
    S::Put(bag, Bag::idClusterFilter, clusterFilterOn);
    if (clusterFilterOn)
        FSLOG(0, "Cluster file system filter enabled");

    std::string clusterTypes;
    if (S::GetString("sClusteredFSTypes", clusterTypes) && !clusterTypes.empty())
        S::Put(bag, Bag::idClusterFSTypes, clusterTypes);

    std::string submounts;
    const bool submountsPresent = S::GetString("DoNotBackupMountsUnderSkipFS", submounts);
    const bool backupSubmounts = !submountsPresent || submounts.empty() || S::StartsWith(submounts, 'Y');
    S::Put(bag, Bag::idBackupSubmountUnderSkippedFS, backupSubmounts);
    FSLOG(0, "%s backup sub-mounts under skipped file systems", backupSubmounts ? "Will" : "Will not");

    std::string skipNonLocal;
    const bool skipNonLocalMounts = S::GetString("sSkipNonLocalMountDetails", skipNonLocal) && !skipNonLocal.empty();
    S::Put(bag, Bag::idSkipNonLocalMountDetails, skipNonLocalMounts);
    FSLOG(0, "SkipNonLocalMountDetails: %s", skipNonLocalMounts ? "yes" : "no");

    LoadClientBaseVersion(clientId);

    if (S::IsSet("nUseFileCtimeAsRefTime")) {
        S::Put(bag, Bag::idUseFileCtimeAsRefTime, true);
        FSLOG(0, "nUseFileCtimeAsRefTime is enabled");
    }
    if (S::IsSet("nDisableAdhocMultiThreading"))
        S::Put(bag, Bag::idAdhocDisableMultiThread, true);

    std::uint32_t honorFilters = 0;
    if (S::GetNumber("HonorSCFiltersForAdHoc", honorFilters)) {
        S::Put(bag, Bag::idOnDemandHonorSCFilters, honorFilters != 0);
        FSLOG(0, "Additional Setting [%s]/[%s]=[%u]", S::kSection, "HonorSCFiltersForAdHoc", honorFilters);
    }

    int failedFilesForCriteria = 0;
    if (S::GetPushedInt("EnableFailedFileProcessingForCriteria", failedFilesForCriteria))
        FSLOG(0, "Additional Setting [%s]/[%s]=[%d]", S::kSection, "EnableFailedFileProcessingForCriteria",
              failedFilesForCriteria);
    S::Put(bag, Bag::idOnDemandDisableFailedFilesProcessing, failedFilesForCriteria == 0);
}

void CScannerOptions::LoadClientBaseVersion(uint64_t clientId)
{
    CBag& bag = *m_bag;
    std::uint32_t baseVersion = 0;
    if (S::GetNumber("nClientBaseVersion", baseVersion) && baseVersion != 0) {
        S::Put(bag, Bag::idInstanceBaseVersion, static_cast<unsigned int>(baseVersion));
        FSLOG(0, "ClientBaseVersion [%u]", baseVersion);
        return;
    }
    std::string text;
    CKxError query = OvaBackup::getClientBaseVersion(clientId, text);
    unsigned int parsed = 0;
    if (query.IsSuccess() && !text.empty() && ParseBaseVersion(text, parsed)) {
        S::Put(bag, Bag::idInstanceBaseVersion, parsed);
        // Remembered so that later jobs need not ask the backup side again.
        ZVPlatformInfo::setNumber(S::kSection, "nClientBaseVersion", parsed);
        return;
    }
    FSLOG(0, "getClientBaseVersion returned [%d]. Set Base version to 11 by default", static_cast<int>(query.Code()));
    S::Put(bag, Bag::idInstanceBaseVersion, kDefaultBaseVersion);
}

CKxError CScannerOptions::LoadHadoopConfiguration(const std::string& applicationId)
{
    CBag& bag = *m_bag;
    std::string uri, user;
    bool hadoopScan = false;
    if (bag.GetBool(Bag::idHadoopScan)) {
        std::shared_ptr<CHadoopInstanceCtx> instance;
        CKxError result = CHadoopInstanceCtx::CreateHDPInstance(applicationId, instance);
        if (result.IsError() || !instance) {
            if (result.IsSuccess())
                result = CKxError(KxCode::NotFound, "No Hadoop instance description");
            RaiseHadoopFailure("FileScan initialization failed. " + result.Message());
            return result.Push("CHadoopInstance::GetInstance failed");
        }
        uri = instance->GetURI();
        user = instance->GetUser();
        hadoopScan = true;
    } else if (S::GetString("sHadoopURI", uri) && !uri.empty()) {
        S::GetString("sHadoopUser", user);
        hadoopScan = true;
    }
    if (!hadoopScan)
        return CKxError::Success();
    S::Put(bag, Bag::idHadoopNameNodeHost, uri);
    S::Put(bag, Bag::idHadoopUser, user);
    S::Put(bag, Bag::idHadoopScan, true);
    const std::string rule(39, '=');
    FSLOG(0, "%s this is a Hadoop Backup %s", rule.c_str(), rule.c_str());
    FSLOG(0, "\tHadoop URI: %s", uri.c_str());
    if (!user.empty())
        FSLOG(0, "\tHadoop User: %s", user.c_str());
    return CKxError::Success();
}

void CScannerOptions::RaiseHadoopFailure(const std::string& eventText)
{
    std::string server;
    if (CXJob::GetServerName(server).IsError())
        server.clear();
    CBackupJobClientPtr client = CBackupJobClient::createInstance(server, EvEvent::GetJobId(), 0, 4, false,
                                                                  m_bag->GetString(Bag::idJobToken));
    if (!client) {
        FSLOG_ERROR("No job-manager client to report [%s]", eventText.c_str());
        return;
    }
    if (CKxError e = client->setPendingCauseAndCriticalEvent(kEventHadoopInitFailed, {eventText}); e.IsError())
        FSLOG_ERROR("setPendingCauseAndCriticalEvent failed: %s", e.AsString().c_str());
}

void CScannerOptions::LoadDistributedConfiguration(DistributedSubclient& subclient, bool mtScanThreadsSet,
                                                   bool folderLevelMultithread)
{
    CBag& bag = *m_bag;
    int clusterType = 0;
    if (CKxError e = subclient.getClusterType(clusterType); e.IsError())
        FSLOG(0, "getClusterType failed, error=%d", static_cast<int>(e.Code()));
    if (FXFile::Exists(m_lustreHookFile)) {
        clusterType = kClusterLustre;
        FSLOG(0, "Hook File for Lustre Exists. So changing the cluster type to Lustre");
    }
    S::Put(bag, Bag::idDistributedAppType, clusterType);
    if (clusterType == kClusterGluster) {
        S::Put(bag, Bag::idProcessLongPaths, false);
        FSLOG(0, "LongPath Processing is disabled for gluster subclient ");
    }
    FSLOG(0, "This is a Distributed subclient of type: %d", clusterType);
    if (clusterType == kClusterGpfs && !mtScanThreadsSet) {
        S::Put(bag, Bag::idMaxScanThreads, 1u);
        FSLOG(0, "%s is set to 1 by default for GPFS subclient", Bag::idMaxScanThreads);
    }
    if ((clusterType == kClusterGpfs || clusterType == kClusterHadoop) && folderLevelMultithread) {
        S::Put(bag, Bag::idEnableFolderLevelMultithread, false);
        FSLOG(0, "FolderLevel multithreading is disabled for GPFS/Hadoop subclient");
    }
    if (clusterType == kClusterGpfs) {
        auto* gpfs = dynamic_cast<GPFSSubclient*>(&subclient);
        if (!gpfs) {
            FSLOG(0, "Failed to cast GPFSSubclient.");
            return;
        }
        bool useSnapshot = false;
        if (gpfs->isUseGpfsSnapshot(useSnapshot).IsSuccess() && useSnapshot) {
            S::Put(bag, Bag::idGpfsSnap, true);
            FSLOG(0, "GPFS snapshots will be used for scan and backup.");
        }
    }
}

CKxError CScannerOptions::LoadScanType(unsigned long, SubclientConf* subclientConf)
{
    FSTRACE();
    if (m_bag->GetBool(Bag::idCloudLaptopBackup)) {
        FSLOG(0, "This is a cloud laptop backup, defaulting to recursive scan.");
        return CKxError::Success();
    }
    if (!subclientConf)
        return ConfigurationError("getSubclientConf failed");
    bool useDataClassification = false;
    if (CKxError e = subclientConf->isUseDCforBackup(useDataClassification); e.IsError()) {
        FSLOG(0, "isUseDCforBackup failed, error=%d", static_cast<int>(e.Code()));
        useDataClassification = false;
    }
    S::Put(*m_bag, Bag::idUseDataClassification, useDataClassification);
    FSLOG(0, "UseDataClassification=%d", useDataClassification ? 1 : 0);
    return CKxError::Success();
}

CKxError CScannerOptions::ConfigureFileExtent(Subclient* subclient, std::shared_ptr<CBag>& bag)
{
    FSTRACE();
    if (!subclient)
        return CKxError(774, "SubClient is null");
    return FileExtentOptions::ConfigFileExtentOptions(bag, subclient);
}

CKxError CScannerOptions::ConfigureStreams(const std::shared_ptr<ApplicationId>& appId)
{
    FSTRACE();
    std::shared_ptr<Subclient> subclient = appId ? appId->getSubclient() : nullptr;
    if (!subclient)
        return ConfigurationError("getSubclient failed");
    const bool distributed = m_bag->GetBool(Bag::idDistributedFSMode);
    std::uint32_t streams = 0;
    KX_RETURN_IF_FAILED(AutoStreamHandler::GetMaxNumberOfStreams(subclient.get(), streams, distributed,
                                                                 m_dataAccessNodeCount, 0, nullptr),
                        "GetMaxNumberOfStreams failed");
    S::Put(*m_bag, Bag::idNumStreams, static_cast<unsigned int>(streams));
    return CKxError::Success();
}

CKxError CScannerOptions::ConfigureStreamsAuto(const std::shared_ptr<ApplicationId>&)
{
    FSTRACE();
    unsigned int streams = 1;
    if (m_bag->GetBool(Bag::idDistributedFSMode)) {
        if (m_dataAccessNodeCount > 0) {
            streams = 2 * m_dataAccessNodeCount;
        } else {
            FSLOG(0, "Backup nodes count is zero, using default number of streams");
            streams = 2;
        }
    }
    S::Put(*m_bag, Bag::idNumStreams, streams);
    FSLOG(0, "Number of streams auto configured for this job : %d", static_cast<int>(streams));
    return CKxError::Success();
}

CKxError CScannerOptions::ConfigureClientAppType()
{
    FSTRACE();
    CBag& bag = *m_bag;
    const int clientAppType = static_cast<int>(S::GetInteger(bag, Bag::idClientAppType, 0));
    if (clientAppType == kClientAppNutanixPseudo) {
        FSLOG(0, "This is Nutanix Pseudo Client. Will launch Nutanix Scan Engine");
        S::Put(bag, Bag::idNutanixAFS, true);
    }
    if (clientAppType == 2 || clientAppType == 3 || clientAppType == 5 || clientAppType == 10)
        S::Put(bag, Bag::idFileServerScan, true);
    if (clientAppType == 3 || clientAppType == 5) {
        std::uint32_t fromSnapshotOnly = 0;
        const bool present = S::GetPushedNumber("bBackupFromSnapshotOnly", fromSnapshotOnly);
        const bool enabled = present && fromSnapshotOnly != 0;
        S::Put(bag, Bag::idFileServerSnapBackupFromSnapshotOnly, enabled);
        FSLOG(0, "Registry key [%s/%s] exists with value [%d], %sabling backup from snapshot only feature.",
              S::kSection, "bBackupFromSnapshotOnly", static_cast<int>(fromSnapshotOnly), enabled ? "en" : "dis");
    }
    if (clientAppType == 3 || clientAppType == 5 || clientAppType == 10) {
        // File servers are walked through their share list one share at a time.
        S::Put(bag, Bag::idMaxScanThreads, 1u);
        FSLOG(0, "%s is set to 1 by default for FileServerScan", Bag::idMaxScanThreads);
        std::uint32_t useFsiEngine = 1;
        S::GetPushedNumber("nUseFSIScanEngine", useFsiEngine);
        if (useFsiEngine == 0) {
            S::Put(bag, Bag::idFSIScanEngine, false);
            FSLOG(0, "Disabled New FileServer Incremental Scan. We will use SQLite Database to keep track of the "
                     "Filesystem using changelist APIs.");
        } else {
            S::Put(bag, Bag::idFSIScanEngine, true);
            S::Put(bag, Bag::idEnableDeletedConsumer, true);
            S::Put(bag, Bag::idDisableDCCompare, true);
        }
    }
    KX_RETURN_IF_FAILED(ConfigureFileServerShareExpansions(), "ConfigureFileServerShareExpansions failed");
    return CKxError::Success();
}

CKxError CScannerOptions::ConfigureFileServerShareExpansions()
{
    FSTRACE();
    CBag& bag = *m_bag;
    const int clientAppType = static_cast<int>(S::GetInteger(bag, Bag::idClientAppType, 0));
    if (clientAppType != 2 && clientAppType != 10)
        return CKxError::Success();
    const unsigned long long clientId = bag.Get<unsigned long long>(Bag::idClientID, 0);
    S::Put(bag, Bag::idIsNetworkShareClient, true);
    S::Put(bag, Bag::idNetworkShareClientId, clientId);
    FSLOG(0, "Network share content expansion is enabled for ClientAppType[%d], ClientID[%lu]", clientAppType,
          static_cast<unsigned long>(clientId));
    return CKxError::Success();
}

CKxError CScannerOptions::GetDANInformation(const std::shared_ptr<ApplicationId>& appId, unsigned int& nodeCount,
                                            int& configValue)
{
    FSTRACE();
    std::shared_ptr<Subclient> subclient = appId ? appId->getSubclient() : nullptr;
    if (!subclient)
        return ConfigurationError("getSubclient failed");
    // The application configuration keeps one node list per subclient: the data access nodes
    // of a distributed subclient, the backup configuration nodes of any other.
    std::uint32_t nodes = 0;
    KX_RETURN_IF_FAILED(subclient->getBackupNodes(nodes), "getBackupNodes failed");
    nodeCount = nodes;
    configValue = 0;
    m_dataAccessNodeCount = nodes;
    m_backupConfigurationValue = configValue;
    FSLOG(3, "Nodes [%u] for %s subclient", nodes,
          std::dynamic_pointer_cast<DistributedSubclient>(subclient) ? "distributed" : "ordinary");
    return CKxError::Success();
}

CKxError CScannerOptions::LoadNutanixConfiguration(const std::shared_ptr<ApplicationId>&)
{
    FSTRACE();
    CBag& bag = *m_bag;
    if (!bag.GetBool(Bag::idNutanixAFS) && S::IsSet("nNutanixScan"))
        S::Put(bag, Bag::idNutanixAFS, true);
    if (!bag.GetBool(Bag::idNutanixAFS))
        return CKxError::Success();
    FSLOG(0, "This is Nutanix scan job");

    const unsigned long long clientId = bag.Get<unsigned long long>(Bag::idClientID, 0);
    std::string arrayId;
    if (CKxError e = ZVMMSnapAPI::getNutanixArrayId(clientId, arrayId); e.IsError())
        return CKxError(KxCode::UnknownProduct, "Unable to get the Nutanix Array Id").Push(e.AsString());
    ZVMMControlHost host;
    if (CKxError e = ZVMMSnapAPI::getControlHostByControlHostId(arrayId, host); e.IsError()) {
        const std::string message =
            KxFormat("Unable to get host info (login, password). MediaManager returned error [%d:%s].",
                     static_cast<int>(e.Code()), e.Message().c_str());
        if (CKxError raised = EvEvent::Raise(kEventNutanixHostInfo, EvEvent::Critical, message); raised.IsError())
            FSLOG_ERROR("Failed to raise event: %s", raised.AsString().c_str());
        return CKxError(KxCode::UnknownProduct, message);
    }
    S::Put(bag, Bag::idNutanixRestAPIUser, host.user);
    std::string password;
    if (CKxError e = ZVPassword::decrypt(host.encryptedPassword, password); e.IsError())
        return CKxError(e.Code(), KxFormat("Unable to decrypt encrypted password [%s], due to error [%lu].",
                                           host.encryptedPassword.c_str(), static_cast<unsigned long>(e.Code())));
    S::Put(bag, Bag::idNutanixRestAPIPassword, password);
    // The array is registered by its REST address.
    if (arrayId.empty())
        FSLOG_ERROR(" Rest API URL is empty.");
    else
        S::Put(bag, Bag::idNutanixRestAPIURL, arrayId);
    FSLOG(0, " RestAPIUser : [%s] , RestAPIURL : [%s]", host.user.c_str(), arrayId.c_str());
    return CKxError::Success();
}

bool CScannerOptions::IsScanJobQualifiedForCleanup()
{
    const CBag& bag = *m_bag;
    if (bag.GetBool(Bag::idLaptopClient) || bag.GetBool(Bag::idOnDemandAdHocBackupJob))
        return false;
    long long jobType = 0;
    if (!S::ReadInteger(bag, Bag::idJobType, jobType))
        return false;
    return CFSJobResultCleanup::IsScanJobTypeQualifiedForCleanup(static_cast<int>(jobType));
}

CKxError CScannerOptions::ConfigureSubclientDirCleanup()
{
    FSTRACE();
    if (!IsScanJobQualifiedForCleanup())
        return CKxError::Success();
    std::uint32_t value = 0;
    const bool present = S::GetNumber(kAutoSubclientDirCleanupKey, value);
    if (present)
        FSLOG(0, "Registry Key bEnableAutoSubclientDirCleanup is set to [%lu]", static_cast<unsigned long>(value));
    S::Put(*m_bag, kAutoSubclientDirCleanupKey, present && value != 0);
    return CKxError::Success();
}

bool CScannerOptions::ShouldUseIndexForFailedFiles(long long lastJobId, unsigned long appId)
{
    if (!S::IsSet("nSendFailedFilesToIndex"))
        return false;
    std::string value;
    CKxError query = App_MiscOptions::getMiscOption(lastJobId, appId, kMiscOptionFailedFilesInIndex, value);
    if (query.IsError()) {
        FSLOG(0, "Failed to determine if JobID=[%lld] saved failed files in index, ret=[%d]", lastJobId,
              static_cast<int>(query.Code()));
        return false;
    }
    return true;
}
