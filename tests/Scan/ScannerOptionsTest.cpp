// Scanner options against a scratch agent instance: an application configuration file, an
// in-memory settings store, and the log writer pointed at a scratch file so that a failed load
// shows its log.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/JobJournal.h"
#include "Base/LogWriter.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixScannerOptions.h"

namespace Bag = SXScannerConfigurationBagId;

namespace {

constexpr const char* kApp = "1:5";

struct TestApp {
    unsigned long appType = 29;
    bool indexV2 = false;
    std::string client = R"({ "id": 2, "name": "client1" })";
    std::string subclient = "{}";  // extra subclient keys, merged into the defaults
    bool withSubclient = true;
    bool withClient = true;
};

class ScannerOptionsTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_logPath = m_instance + "/Log_Files/options.log";
        ASSERT_TRUE(CLogWriter::Instance().Open(m_logPath, 5).IsSuccess());
        m_hook = m_root + "/lustre";
    }

    void TearDown() override
    {
        CLogWriter::Instance().Close();
        ScanJobTestEnv::TearDown();
    }

    bool Stored(const std::string& key, std::string& value) const
    {
        std::string where;
        return m_settings->Get("FileSystemAgent", key, value, where);
    }

    // Writes `app` and loads Unix options for it; `before` seeds the bag as the job does from its
    // command line.
    CKxError Load(const TestApp& app, const std::function<void(CBag&)>& before = {})
    {
        nlohmann::json json = App(static_cast<int>(app.appType), app.indexV2);
        json["client"] = nlohmann::json::parse(app.client);
        json["subclient"].update(nlohmann::json::parse(app.subclient));
        if (!app.withClient)
            json.erase("client");
        if (!app.withSubclient)
            json.erase("subclient");
        WriteFile(AppConfigPath(kApp), json.dump());
        m_options = std::make_shared<CUnixScannerOptions>();
        m_options->SetLustreHookFile(m_hook);
        m_bag = m_options->GetConfigurationBag();
        (void)m_bag->Write(Bag::idJobType, 5u);
        if (before)
            before(*m_bag);
        return m_options->LoadConfiguration(kApp);
    }

    std::string Log() const { return ReadFile(m_logPath); }

    // The bag's value of `key` with its type: true/false, 5 (int), 5u (unsigned int), 5ull
    // (unsigned long long), "text" (string); "-" when absent.
    std::string Typed(const char* key) const
    {
        std::any value;
        if (m_bag->ReadAny(key, value).IsError())
            return "-";
        if (auto* v = std::any_cast<bool>(&value)) return *v ? "true" : "false";
        if (auto* v = std::any_cast<int>(&value)) return std::to_string(*v);
        if (auto* v = std::any_cast<unsigned int>(&value)) return std::to_string(*v) + "u";
        if (auto* v = std::any_cast<unsigned long long>(&value)) return std::to_string(*v) + "ull";
        if (auto* v = std::any_cast<std::string>(&value)) return "\"" + *v + "\"";
        return "<other type>";
    }
    void ExpectBag(const std::vector<std::pair<const char*, const char*>>& expected) const
    {
        for (const auto& [key, value] : expected)
            EXPECT_EQ(Typed(key), value) << key;
    }


    std::shared_ptr<CUnixScannerOptions> m_options;
    CBagPtr m_bag;
    std::string m_logPath;
    std::string m_hook;
};

// The defaults that decide what a job takes; the others are switches that stay off.
TEST_F(ScannerOptionsTest, WithoutAnySettingTheJobTakesByBothTimesRegistersItsClientAndStoresItsBaseVersion)
{
    ASSERT_TRUE(Load(TestApp{}).IsSuccess()) << Log();
    ExpectBag({{Bag::idUseMTime, "true"}, {Bag::idUseCTime, "true"}, {Bag::idLoadContentFile, "true"},
               {Bag::idProcessTopLevelContent, "true"}, {Bag::idIncludeEmptyFoldersInIncrementalBackup, "false"},
               {Bag::idIndexV2, "false"}, {Bag::idLongPathFlag, "true"}, {Bag::idProcessLongPaths, "true"},
               {"bEnableAutoSubclientDirCleanup", "false"}, {Bag::idNumStreams, "1u"}, {"orbundId", "1ull"},
               {Bag::idClientID, "2ull"},
               {Bag::idBackupAfterDate, "-"}, {Bag::idFollowSymLink, "-"}, {Bag::idHardLinkEnable, "-"},
               {Bag::idMultiStreamExtentBackup, "-"}, {Bag::idEnableFolderLevelMultithread, "-"}});
    // A non-distributed job registers its client id with the agent once.
    std::string clientId;
    ASSERT_TRUE(Stored("nCLIENTID", clientId));
    EXPECT_EQ(clientId, "2");
    Setting("nCLIENTID", "44");
    ASSERT_TRUE(Load(TestApp{}).IsSuccess());
    ASSERT_TRUE(Stored("nCLIENTID", clientId));
    EXPECT_EQ(clientId, "44");

    // The client's base version comes from the setting or the release text.
    TestApp app{.client = R"({ "id": 2, "name": "client1", "baseVersion": "  rElEaSe 11  " })"};
    ASSERT_TRUE(Load(app).IsSuccess());
    EXPECT_EQ(Typed(Bag::idInstanceBaseVersion), "11u");
    std::string stored;
    ASSERT_TRUE(Stored("nClientBaseVersion", stored));
    EXPECT_EQ(stored, "11");

    // Once stored, the setting answers without asking the backup side.
    Setting("nClientBaseVersion", "9");
    ASSERT_TRUE(Load(app).IsSuccess());
    EXPECT_EQ(Typed(Bag::idInstanceBaseVersion), "9u");

    m_settings->Erase("FileSystemAgent", "nClientBaseVersion");
    app.client = R"({ "id": 2, "name": "client1", "baseVersion": "Release " })";
    ASSERT_TRUE(Load(app).IsSuccess());
    EXPECT_EQ(Typed(Bag::idInstanceBaseVersion), "11u");
    EXPECT_FALSE(Stored("nClientBaseVersion", stored));
}

// Writes `value` under `key` as the command line does before the load.
template <typename T>
std::function<void(CBag&)> Writes(const char* key, T value)
{
    return [=](CBag& bag) { (void)bag.Write(key, value); };
}

// One load from fresh settings: agent settings (a leading '~' marks one pushed by the
// management server), the application, the bag as the command line leaves it, and the bag
// keys expected after the load.
struct LoadCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> settings;
    TestApp app;
    std::function<void(CBag&)> before;
    std::vector<std::pair<const char*, const char*>> expected;
};

TEST_F(ScannerOptionsTest, SettingsSubclientAndCommandLineReachTheBag)
{
    const std::vector<std::pair<std::string, std::string>> fsPushed = {{"~bBackupFromSnapshotOnly", "1"},
                                                                       {"~nUseFSIScanEngine", "0"}};
    const char* const pst = Bag::idUsePSTEvaluator;
    const char* const atime = Bag::idPreserveATimeThroughRegKey;
    const char* const cleanup = "bEnableAutoSubclientDirCleanup";
    const std::string extent = R"({ "extentBackup": { "enabled": true, "fileSizeThreshold": 1073741824 } })";
    const char* const multi = Bag::idMultiStreamExtentBackup;
    const std::string gpfs =
        R"({ "folderLevelThreads": 4, "distributed": { "clusterType": 3, "useGpfsSnapshot": true } })";
    const std::string preserve = R"({ "preserveAccessTimes": true, "useMtime": false, "useCtime": true })";
    const std::string hadoop = R"({ "distributed": { "clusterType": 2 }, "extentBackup": { "enabled": true } })";
    const char* const skipFs = Bag::idBackupSubmountUnderSkippedFS;
    auto snapJob = [](unsigned type, bool withoutCatalog) {
        return [=](CBag& bag) {
            (void)bag.Write(Bag::idJobType, type);
            if (withoutCatalog)
                (void)bag.Write(Bag::idSnapBackupWithoutSnapCatalog, true);
        };
    };
    const std::vector<LoadCase> cases = {
        // A laptop client never cleans its results folder automatically.
        {"subclient switches", {},
         {.indexV2 = true,
          .client = R"({ "id": 2, "name": "client1", "laptop": true })",
          .subclient = R"({ "collectAcl": true, "trueUp": { "enabled": true, "days": 30, "jobs": 2 },
              "numStreams": 4, "preserveAccessTimes": true, "backupAfterDate": 1700000000,
              "followSymbolicLinks": true, "appleDouble": true, "useDataClassification": true,
              "folderLevelThreads": 6, "fileShareMountOptions": "vers=3" })"},
         {},
         {{Bag::idCollectACL, "true"}, {Bag::idTrueUpEnabled, "true"}, {Bag::idPreserveATime, "true"},
          {Bag::idEnhancedSymbolicLinkIdentification, "true"}, {Bag::idAppleDouble, "true"},
          {Bag::idUseDataClassification, "true"}, {Bag::idLaptopClient, "true"}, {Bag::idIndexV2, "true"},
          {Bag::idIncrImageMode, "true"}, {Bag::idEnableFolderLevelMultithread, "true"}, {Bag::idDaysToTrueUp, "30u"},
          {Bag::idJobsToTrueUp, "2u"}, {Bag::idNumStreams, "4u"}, {Bag::idBackupAfterDate, "1700000000ull"},
          {Bag::idMaxWorkers, "6u"}, {Bag::idFileShareAutoMountOptions, R"("vers=3")"},
          {"bEnableAutoSubclientDirCleanup", "-"}}},
        // Extent backup by job type and subclient.
        {"extent", {{"mszFileExtentSlabs", "1-10:2"}}, {.subclient = extent}, {},
         {{multi, "true"}, {Bag::idExtentBackupFileSize, "1073741824ull"},
          {Bag::idExtentFeatureEnabledExplicitly, "false"}, {Bag::idExtentBackupFileExtentSlabsKey, R"("1-10:2")"},
          {Bag::idACLOnlyBackup, "-"}}},
        {"extent ACL only", {}, {.subclient = R"({ "extentBackup": { "aclOnly": true, "fileSizeThreshold": 5 } })"},
         {}, {{Bag::idACLOnlyBackup, "true"}, {Bag::idExtentFeatureEnabledExplicitly, "true"}}},
        // Job types outside the extent family need the snapshot-without-catalog switch.
        {"extent job type 8", {}, {.subclient = extent}, snapJob(8, false), {{multi, "-"}}},
        {"extent job type 8 without catalog", {}, {.subclient = extent}, snapJob(8, true), {{multi, "true"}}},
        // Archiving asks only when the subclient honours the archiver's retention.
        {"extent archiving", {}, {.subclient = extent}, snapJob(42, false), {{multi, "-"}}},
        {"extent archiving with retention", {{"mszArchiveFileExtentSlabs", "archive-slabs"}},
         {.subclient = R"({ "honorArchiverRetention": true, "extentBackup": { "enabled": true } })"},
         snapJob(42, false),
         {{multi, "true"}, {Bag::idExtentBackupFileExtentSlabsKey, R"("archive-slabs")"}}},
        // Cluster file systems: Hadoop shares files by extents unless switched off, the others never.
        {"extent hadoop", {}, {.subclient = hadoop}, {}, {{multi, "true"}, {Bag::idExtentBackupFileSize, "-"}}},
        {"extent hadoop off", {{"nMultiStreamExtentBackup", "0"}}, {.subclient = hadoop}, {}, {{multi, "-"}}},
        {"extent lustre", {},
         {.subclient = R"({ "distributed": { "clusterType": 13 }, "extentBackup": { "enabled": true } })"}, {},
         {{multi, "-"}}},
        {"skip mounts Y", {{"DoNotBackupMountsUnderSkipFS", "Y"}}, {}, {}, {{skipFs, "true"}}},
        // A GPFS scan with incomplete large files trued up works in image mode.
        {"gpfs true-up", {{"nUseGpfsScan", "1"}, {"bEnableFileExtentIncompleteFilesTrueUp", "1"}}, {}, {},
         {{Bag::idGpfsScan, "true"}, {Bag::idIncrImageMode, "true"}, {Bag::idSkipIncompleteLargeFileBrowse, "false"}}},
        // The access-time setting is tested on its first letter only.
        {"atime empty", {{"sPreserveATime", ""}}, {}, {}, {{atime, "false"}}},
        {"atime Yes", {{"sPreserveATime", "Yes"}}, {}, {}, {{atime, "true"}}},
        {"atime x", {{"sPreserveATime", "x"}}, {}, {}, {{atime, "-"}}},
        {"atime blank Y", {{"sPreserveATime", " Y"}}, {}, {}, {{atime, "-"}}},
        // Any non-empty text switches the non-local mount details off.
        {"string switches set",
         {{"sSkipNonLocalMountDetails", "no"}, {"sSupportLongPath", "No"}, {"sClusteredFSFilter", "yes"},
          {"sClusteredFSTypes", "gpfs lustre"}},
         {}, {},
         {{Bag::idSkipNonLocalMountDetails, "true"}, {Bag::idLongPathFlag, "false"}, {Bag::idProcessLongPaths, "true"},
          {Bag::idClusterFilter, "true"}, {Bag::idClusterFSTypes, R"("gpfs lustre")"}}},
        {"string switches cleared",
         {{"sSkipNonLocalMountDetails", ""}, {"sSupportLongPath", "yes"}, {"sClusteredFSFilter", "no"},
          {"sClusteredFSTypes", ""}},
         {}, {},
         {{Bag::idSkipNonLocalMountDetails, "false"}, {Bag::idLongPathFlag, "true"}, {Bag::idClusterFilter, "false"},
          {Bag::idClusterFSTypes, "-"}}},
        {"number switches zero",
         {{"nBackupSymLinkData", "0"}, {"nUseFileCtimeAsRefTime", "0"}, {"nDisableAdhocMultiThreading", "0"},
          {"OnDemand_AutoExpandDir", "0"}, {"nIncludeEmptyFoldersInIncrementalBackup", "0"}},
         {}, {},
         {{Bag::idFollowSymLink, "-"}, {Bag::idUseFileCtimeAsRefTime, "-"}, {Bag::idAdhocDisableMultiThread, "-"},
          {Bag::idOnDemandAutoExpandDirs, "false"}, {Bag::idIncludeEmptyFoldersInIncrementalBackup, "false"},
          {Bag::idOnDemandHonorSCFilters, "-"}}},
        // Present with 0 is still written: the ad hoc job then ignores the subclient filters.
        {"number switches non-zero",
         {{"nBackupSymLinkData", "1"}, {"nUseFileCtimeAsRefTime", "1"}, {"nDisableAdhocMultiThreading", "1"},
          {"nIncludeEmptyFoldersInIncrementalBackup", "3"}, {"HonorSCFiltersForAdHoc", "0"}, {"MTScanThreads", "8"},
          {"~EnableFailedFileProcessingForCriteria", "1"}},
         {}, {},
         {{Bag::idFollowSymLink, "true"}, {Bag::idUseFileCtimeAsRefTime, "true"},
          {Bag::idAdhocDisableMultiThread, "true"}, {Bag::idIncludeEmptyFoldersInIncrementalBackup, "true"},
          {Bag::idOnDemandHonorSCFilters, "false"}, {Bag::idMaxScanThreads, "8u"},
          {Bag::idOnDemandDisableFailedFilesProcessing, "false"}}},
        // The PST evaluator's default follows the job type, whatever integer type it is written as.
        {"pst job type 32", {}, {}, Writes(Bag::idJobType, 32u), {{pst, "true"}}},
        {"pst job type 13 as int", {}, {}, Writes(Bag::idJobType, 13), {{pst, "true"}}},
        {"pst setting off", {{"UsePSTFileEvaluator", "0"}}, {}, Writes(Bag::idJobType, 32u), {{pst, "false"}}},
        {"hadoop from settings", {{"sHadoopURI", "hdfs://nn:8020"}, {"sHadoopUser", "hdfs"}}, {}, {},
         {{Bag::idHadoopScan, "true"}, {Bag::idHadoopNameNodeHost, R"("hdfs://nn:8020")"},
          {Bag::idHadoopUser, R"("hdfs")"}}},
        {"hadoop without URI", {{"sHadoopURI", ""}, {"sHadoopUser", "hdfs"}}, {}, {}, {{Bag::idHadoopScan, "-"}}},
        {"cloud laptop leaves data classification unset", {}, {.subclient = R"({ "useDataClassification": true })"},
         Writes(Bag::idCloudLaptopBackup, true), {{Bag::idUseDataClassification, "-"}}},
        // Automatic clean-up of the results folder only for qualified jobs.
        {"cleanup", {{cleanup, "1"}}, {}, {}, {{cleanup, "true"}}},
        {"cleanup job type 8", {{cleanup, "1"}}, {}, Writes(Bag::idJobType, 8u), {{cleanup, "-"}}},
        {"cleanup no job type", {{cleanup, "1"}}, {}, [](CBag& bag) { (void)bag.Remove(Bag::idJobType); },
         {{cleanup, "-"}}},
        // Preserving access times forces mtime on the file-system app types; the Linux one is
        // not of them. Neither time selected falls back to mtime.
        {"atime app 22", {}, {.appType = 22, .subclient = preserve}, {},
         {{Bag::idUseCTime, "false"}, {Bag::idUseMTime, "true"}}},
        {"atime app 29", {}, {.appType = 29, .subclient = preserve}, {},
         {{Bag::idUseCTime, "true"}, {Bag::idUseMTime, "false"}}},
        {"no time selected", {}, {.subclient = R"({ "useMtime": false, "useCtime": false })"}, {},
         {{Bag::idUseCTime, "false"}, {Bag::idUseMTime, "true"}}},
        // Hard links by app type and setting.
        {"hlink 29 yes", {{"HLINK", "yes"}}, {.appType = 29}, {}, {{Bag::idHardLinkEnable, "true"}}},
        {"hlink 17 Y", {{"HLINK", "Y"}}, {.appType = 17}, {}, {{Bag::idHardLinkEnable, "true"}}},
        {"hlink 29 no", {{"HLINK", "no"}}, {.appType = 29}, {}, {{Bag::idHardLinkEnable, "-"}}},
        {"hlink 22 Y", {{"HLINK", "Y"}}, {.appType = 22}, {}, {{Bag::idHardLinkEnable, "-"}}},
        {"client base version", {}, {.client = R"({ "id": 2, "name": "client1", "baseVersion": "12" })"}, {},
         {{Bag::idInstanceBaseVersion, "12u"}}},
        // Gluster turns long-path processing off after the common rule turned it on; GPFS scans
        // with one thread unless told otherwise.
        {"gluster", {}, {.subclient = R"({ "folderLevelThreads": 4, "distributed": { "clusterType": 11 } })"}, {},
         {{Bag::idDistributedAppType, "11"}, {Bag::idProcessLongPaths, "false"},
          {Bag::idEnableFolderLevelMultithread, "true"}, {Bag::idMaxScanThreads, "-"}}},
        {"gpfs snapshot", {}, {.subclient = gpfs}, {},
         {{Bag::idDistributedAppType, "3"}, {Bag::idMaxScanThreads, "1u"},
          {Bag::idEnableFolderLevelMultithread, "false"},
          {Bag::idGpfsSnap, "true"}, {Bag::idGpfsScan, "true"}}},
        {"gpfs threads", {{"MTScanThreads", "6"}}, {.subclient = gpfs}, {}, {{Bag::idMaxScanThreads, "6u"}}},
        // File-server client app types.
        {"file server 3", {}, {}, Writes(Bag::idClientAppType, 3),
         {{Bag::idFileServerScan, "true"}, {Bag::idFileServerSnapBackupFromSnapshotOnly, "false"},
          {Bag::idMaxScanThreads, "1u"}, {Bag::idFSIScanEngine, "true"}, {Bag::idEnableDeletedConsumer, "true"},
          {Bag::idDisableDCCompare, "true"}, {Bag::idIsNetworkShareClient, "-"}}},
        {"file server 5 pushed", fsPushed, {}, Writes(Bag::idClientAppType, 5),
         {{Bag::idFileServerSnapBackupFromSnapshotOnly, "true"}, {Bag::idFSIScanEngine, "false"},
          {Bag::idEnableDeletedConsumer, "-"}}},
        {"network share 10", fsPushed, {}, Writes(Bag::idClientAppType, 10),
         {{Bag::idFileServerScan, "true"}, {Bag::idFileServerSnapBackupFromSnapshotOnly, "-"},
          {Bag::idIsNetworkShareClient, "true"}, {Bag::idNetworkShareClientId, "2ull"}}},
        {"client app 7", fsPushed, {}, Writes(Bag::idClientAppType, 7),
         {{Bag::idFileServerScan, "-"}, {Bag::idMaxScanThreads, "-"}}},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_settings = std::make_shared<CMemorySettingsStore>();
        ZVPlatformInfo::Install(m_settings);
        for (const auto& [key, value] : c.settings)
            m_settings->Put(key.starts_with('~') ? "~FileSystemAgent" : "FileSystemAgent",
                            key.substr(key.starts_with('~')), value);
        ASSERT_TRUE(Load(c.app, c.before).IsSuccess()) << Log();
        ExpectBag(c.expected);
    }
}

// A distributed subclient never registers the client id; its automatic streams follow the node
// count, and only a distributed job asks the index for failed files. The Lustre hook file
// overrides whatever the configuration says.
TEST_F(ScannerOptionsTest, DistributedJobsStreamsFailedFilesAndTheLustreHook)
{
    Setting("nSendFailedFilesToIndex", "1");
    TestApp app{.subclient = R"({ "folderLevelThreads": 4, "distributed": { "clusterType": 11 } })"};
    ASSERT_TRUE(Load(app).IsSuccess()) << Log();
    std::string value;
    EXPECT_FALSE(Stored("nCLIENTID", value));
    EXPECT_FALSE(m_bag->Has(Bag::idFailedFilesInIndex));

    const auto distributed = [](CBag& bag) {
        (void)bag.Write(Bag::idDistributedFSMode, true);
        (void)bag.Write(Bag::idLastJobID, 41LL);
    };
    for (const auto& [nodes, streams] : {std::pair{0, "2u"}, {3, "6u"}}) {
        app.subclient = R"({ "backupNodes": )" + std::to_string(nodes) + R"(, "distributed": { "clusterType": 13 } })";
        ASSERT_TRUE(Load(app, distributed).IsSuccess()) << Log();
        ASSERT_TRUE(m_options->ConfigureStreamsAuto(nullptr).IsSuccess());
        EXPECT_EQ(Typed(Bag::idNumStreams), streams);
        // This agent's index keeps no per-job options, so the answer is always "not saved".
        EXPECT_EQ(Typed(Bag::idFailedFilesInIndex), "false");
    }
    EXPECT_EQ(m_options->GetDataAccessNodeCount(), 3u);
    ASSERT_TRUE(Load(app).IsSuccess());
    ASSERT_TRUE(m_options->ConfigureStreamsAuto(nullptr).IsSuccess());
    EXPECT_EQ(Typed(Bag::idNumStreams), "1u");
    EXPECT_FALSE(m_bag->Has(Bag::idFailedFilesInIndex));

    WriteFile(m_hook, "");
    app.subclient = R"({ "distributed": { "clusterType": 3 } })";
    ASSERT_TRUE(Load(app).IsSuccess());
    EXPECT_EQ(Typed(Bag::idDistributedAppType), "13");
    EXPECT_FALSE(m_bag->Has(Bag::idGpfsScan));
}

// Loads that fail: a Hadoop scan without its instance description, missing configuration
// objects or application, a Nutanix scan without the storage array manager.
TEST_F(ScannerOptionsTest, LoadsThatFailKeepWhatCameBefore)
{
    EvEvent::SetJobId(77);
    CKxError result = Load(TestApp{}, [](CBag& bag) { (void)bag.Write(Bag::idHadoopScan, true); });
    ASSERT_TRUE(result.IsError());
    EXPECT_NE(result.AsString().find("CHadoopInstance::GetInstance failed"), std::string::npos);
    std::vector<std::string> journal = ReadLines(CJobJournal::PathFor(77));
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_NE(journal[0].find("\"call\":\"setPendingCauseAndCriticalEvent\""), std::string::npos);
    EXPECT_NE(journal[0].find("\"id\":285212682"), std::string::npos);
    EXPECT_NE(journal[0].find("FileScan initialization failed. "), std::string::npos);
    // What came before the failure stays in the bag; what comes after is not written.
    EXPECT_TRUE(m_bag->Has(Bag::idClientID));
    EXPECT_FALSE(m_bag->Has(Bag::idLoadContentFile));

    // Missing configuration objects end the load.
    for (const auto& [app, message] :
         {std::pair{TestApp{.withSubclient = false}, "getSubclient failed"}, {TestApp{.withClient = false}, "getClient failed"}}) {
        result = Load(app);
        EXPECT_EQ(result.Code(), 1627);
        EXPECT_NE(result.AsString().find(message), std::string::npos) << result.AsString();
    }
    // The client failure comes after the first steps, which stay written.
    EXPECT_TRUE(m_bag->Has("orbundId"));
    EXPECT_TRUE(m_bag->Has(Bag::idNumStreams));
    EXPECT_FALSE(m_bag->Has(Bag::idClientID));

    auto options = std::make_shared<CUnixScannerOptions>();
    for (const auto& [app, message] : {std::pair{"1:6", "getAppId failed, error=2"},
                                       std::pair{"not-an-app", "getAppId failed, error=87"}}) {
        CKxError load = options->LoadConfiguration(app);
        EXPECT_EQ(load.Code(), 1627) << app;
        EXPECT_EQ(load.Message(), message);
    }
    EXPECT_EQ(options->GetConfigurationBag()->Size(), 0u);

    // The pseudo client of a Nutanix file server cannot learn its array's REST credentials
    // on this agent: the load fails rather than scanning without them.
    result = Load(TestApp{}, [](CBag& bag) { (void)bag.Write(Bag::idClientAppType, 2); });
    ASSERT_TRUE(result.IsError());
    EXPECT_EQ(result.Message(), "Unable to get the Nutanix Array Id");
    ExpectBag({{Bag::idNutanixAFS, "true"}, {Bag::idFileServerScan, "true"}, {Bag::idIsNetworkShareClient, "true"}});

    Setting("nNutanixScan", "1");
    result = Load(TestApp{});
    ASSERT_TRUE(result.IsError());
    EXPECT_EQ(Typed(Bag::idNutanixAFS), "true");
}

}  // namespace
