// The driver: what the job manager is told for good, failed, killed, retried and
// completed-in-scan jobs, and the failures that happen before the job manager can be told. Then
// the job factory's decisions: application types, command-line rules and their order,
// application-manager rules, agent settings, and the classes each type builds.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/ApplicationId.h"
#include "Scan/Archiving/ArchivingScanJobs.h"
#include "Scan/BlockLevel/SnapBackupScanJobs.h"
#include "Scan/Dirchange/ScanJobFileSystemCallbackSQLiteDirchange.h"
#include "Scan/Dirchange/ScanJobFileSystemSQLiteDirchange.h"
#include "Scan/FileScan.h"
#include "Scan/FileScanVSA.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <optional>

namespace {

namespace Id = SXScannerConfigurationBagId;

class ScriptedJob : public CScanJobFileSystem {
public:
    using CScanJob::CompleteJobNow;
    CKxError Run() override
    {
        if (m_onRun)
            m_onRun(*this);
        return m_runResult;
    }
    CBagPtr Bag() const { return GetScannerOptions()->GetConfigurationBag(); }

    std::function<void(ScriptedJob&)> m_onRun;
    CKxError m_runResult;
};

class ScriptedCallback : public CUnixScanJobCallback {
public:
    int GetNumStreams() override { return m_streams ? *m_streams : CUnixScanJobCallback::GetNumStreams(); }
    CKxError GetNextPhaseArguments(std::string& arguments, int& action) override
    {
        arguments += m_presetArguments;
        return CUnixScanJobCallback::GetNextPhaseArguments(arguments, action);
    }
    using CScanJobCallback::GetScannerConfigurationBag;
    // Scripted jobs walk nothing: no results-folder files join their figures.
    CKxError GetPostProcessResultFolderInterface(std::shared_ptr<CFileSystemPostProcessResultFolder>& step) override
    {
        step.reset();
        return CKxError::Success();
    }

    std::optional<int> m_streams;
    std::string m_presetArguments;
    SScanStats m_collectStats;

protected:
    void AddCollectFileStats(const COutputResources&, SScanStats& stats) const override
    {
        stats.collectFiles += m_collectStats.collectFiles;
        stats.totalItems += m_collectStats.totalItems;
        stats.dataSize += m_collectStats.dataSize;
        stats.folders += m_collectStats.folders;
    }
};

// The real type decision with scripted jobs and callbacks; keeps every object it made.
class ScriptedFactory : public CScanJobFactory {
public:
    ScriptedFactory() : CScanJobFactory("inst") {}
    CScanJobPtr CreateScanJobObject(EScanJobType type) override
    {
        m_types.push_back(type.Value());
        if (m_noJob)
            return nullptr;
        auto job = std::make_shared<ScriptedJob>();
        job->m_onRun = m_onRun;
        job->m_runResult = m_runResult;
        m_jobs.push_back(job);
        return job;
    }
    CScanJobCallbackPtr CreateScanJobCallback(EScanJobType) override
    {
        if (m_noCallback)
            return nullptr;
        auto callback = std::make_shared<ScriptedCallback>();
        if (m_onCallback)
            m_onCallback(*callback);
        m_callbacks.push_back(callback);
        return callback;
    }

    std::function<void(ScriptedJob&)> m_onRun;
    std::function<void(ScriptedCallback&)> m_onCallback;
    CKxError m_runResult;
    bool m_noJob = false;
    bool m_noCallback = false;
    std::vector<unsigned> m_types;
    std::vector<std::shared_ptr<ScriptedJob>> m_jobs;
    std::vector<std::shared_ptr<ScriptedCallback>> m_callbacks;
};

class FileScanTest : public ScanJobTestEnv {
protected:
    CKxError Run(const std::vector<std::string>& extra = {})
    {
        CFileScan scan(JobArgs(extra));
        return scan.Process(m_factory);
    }
    std::vector<std::string> CallNames() const
    {
        std::vector<std::string> names;
        for (const nlohmann::json& record : Calls(""))
            names.push_back(record.value("call", ""));
        return names;
    }
    nlohmann::json LastComplete() const
    {
        auto completes = Calls("complete");
        EXPECT_EQ(completes.size(), 1u);
        return completes.empty() ? nlohmann::json() : completes.back();
    }
    std::string Params() const
    {
        auto params = Calls("concatPhaseParams");
        EXPECT_EQ(params.size(), 1u);
        return params.empty() ? std::string() : params.back().value("params", "");
    }
    static nlohmann::json Complete(int status, int statusFor)
    {
        return {{"call", "complete"}, {"status", status}, {"for", statusFor}};
    }
    bool JournalExists() const { return std::filesystem::exists(m_instance + "/JobManager/7.jsonl"); }
    // A new run: no journal yet, a new factory.
    void Fresh()
    {
        std::filesystem::remove(m_instance + "/JobManager/7.jsonl");
        m_factory = std::make_shared<ScriptedFactory>();
    }

    std::shared_ptr<ScriptedFactory> m_factory = std::make_shared<ScriptedFactory>();
};

using Names = std::vector<std::string>;

TEST_F(FileScanTest, GoodJobCompletesThePhaseWithItsNextPhaseArguments)
{
    ASSERT_TRUE(Run().IsSuccess());
    EXPECT_EQ(m_factory->m_types, (std::vector<unsigned>{5}));
    // The job's failure list exists, so its count (none here) is reported before the outcome.
    EXPECT_EQ(CallNames(), (Names{"addScanFileFailures", "setNumStreams", "concatPhaseParams", "updateInfo",
                                  "complete", "finishedWorkWithoutExit"}));
    EXPECT_EQ(Calls("addScanFileFailures").at(0).value("count", -1), 0);
    EXPECT_EQ(Calls("setNumStreams").at(0).value("streams", 0), 1);
    EXPECT_EQ(LastComplete(), Complete(1, 1));

    CBagPtr bag = m_factory->m_jobs.at(0)->Bag();
    const long long start = bag->Get<long long>(Id::idScanStartTime, 0);
    EXPECT_GT(start, 0);
    const std::string params = Params();
    EXPECT_EQ(Calls("concatPhaseParams").at(0).value("action", ""), "JMCONCAT");
    EXPECT_NE(params.find(" -parent 1 -c 0 -maxcolnum 0 -numcol 0 -numfolder 0 "), std::string::npos) << params;
    EXPECT_NE(params.find(" -new_scan"), std::string::npos) << params;
    EXPECT_EQ(params.substr(params.size() - (" -r " + std::to_string(start)).size()), " -r " + std::to_string(start));

    EXPECT_TRUE(std::filesystem::exists(m_instance + "/run/fsweep_7"));
}

// Failures of the job, of the job manager's calls and of the factory: the phase or the job is
// failed, and no next-phase arguments are sent unless the failing call comes after them.
TEST_F(FileScanTest, FailuresAreReportedForThePhaseOrTheJob)
{
    struct Case {
        const char* name;
        std::function<void(ScriptedJob&)> onRun;
        CKxError runResult;
        int statusFor;
        const char* failCall = nullptr;  // of the job manager
        Names calls = {};                // the whole journal, when given
        bool paramsSent = false;
        bool noJob = false, noCallback = false;
    };
    const CKxError broke(1168, "walk broke");
    auto failJob = [](ScriptedJob& job) { job.FailJob(); };
    const std::vector<Case> cases = {
        {"phase failed", [](ScriptedJob& job) { job.FailPhase(); }, {}, 1},
        {"job failed", failJob, {}, 2},
        {"job failed in the bag", [](ScriptedJob& job) { (void)job.Bag()->Write(Id::idFailJobSet, true); }, {}, 2},
        {"run error", nullptr, broke, 1},
        {"run error and job failed", failJob, broke, 2},
        {"reference time refused", [](ScriptedJob& job) { job.CompleteJobNow(); }, {}, 1, "setReferenceTime",
         {"addScanFileFailures", "complete", "finishedWorkWithoutExit"}},
        {"parameters refused", nullptr, {}, 1, "concatPhaseParams"},
        {"stream count refused", nullptr, {}, 1, "setNumStreams"},
        {"update refused", nullptr, {}, 1, "updateInfo", {}, true},
        {"no callback", nullptr, {}, 1, nullptr, {"complete"}, false, false, true},
        {"no job", nullptr, {}, 1, nullptr, {}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        m_factory->m_onRun = c.onRun;
        m_factory->m_runResult = c.runResult;
        m_factory->m_noJob = c.noJob;
        m_factory->m_noCallback = c.noCallback;
        CJobManagerFaults::Clear();
        if (c.failCall)
            CJobManagerFaults::FailCall(c.failCall);
        ASSERT_TRUE(Run().IsSuccess());
        EXPECT_EQ(LastComplete(), Complete(2, c.statusFor));
        EXPECT_EQ(Calls("concatPhaseParams").empty(), !c.paramsSent);
        if (!c.calls.empty()) {
            EXPECT_EQ(CallNames(), c.calls);
        }
    }

    // The real factory builds no callback for type 3.
    Fresh();
    WriteApp("2:5", 33);
    CFileScan scan(JobArgs());
    ASSERT_TRUE(scan.Process(std::make_shared<CScanJobFactory>("inst")).IsSuccess());
    EXPECT_EQ(LastComplete(), Complete(2, 1));
}

TEST_F(FileScanTest, StreamCountOfZeroBecomesOneMinusOneIsNotReportedAndAKilledJobIsNotFailed)
{
    for (const auto& [streams, reported] : std::vector<std::pair<int, int>>{{0, 1}, {-1, -5}, {3, 3}}) {
        Fresh();
        m_factory->m_onCallback = [streams](ScriptedCallback& callback) { callback.m_streams = streams; };
        ASSERT_TRUE(Run().IsSuccess());
        const auto calls = Calls("setNumStreams");
        EXPECT_EQ(calls.empty() ? -5 : calls.at(0).value("streams", -7), reported) << streams;
        EXPECT_EQ(LastComplete(), Complete(1, 1));
    }

    // A killed job is not reported as failed.
    Fresh();
    WriteFile(m_instance + "/JobManager/7.quit", "");
    m_factory->m_runResult = CKxError(995, "walk aborted");
    ASSERT_TRUE(Run().IsSuccess());
    EXPECT_EQ(CallNames(), (Names{"finishedWorkWithoutExit"}));

    // A job that finished its work before the quit is still completed.
    Fresh();
    ASSERT_TRUE(Run().IsSuccess());
    EXPECT_EQ(LastComplete(), Complete(1, 1));
}

TEST_F(FileScanTest, JobCompletedInScanSetsTheReferenceTimeAndCompletesTheJobWithErrorsWhenContentFailed)
{
    m_factory->m_onRun = [](ScriptedJob& job) { job.CompleteJobNow(); };
    ASSERT_TRUE(Run().IsSuccess());
    const long long start = m_factory->m_jobs.at(0)->Bag()->Get<long long>(Id::idScanStartTime, 0);
    EXPECT_EQ(CallNames(), (Names{"addScanFileFailures", "setReferenceTime", "updateInfo", "event", "setNumStreams",
                                  "concatPhaseParams", "updateInfo", "complete", "finishedWorkWithoutExit"}));
    EXPECT_EQ(Calls("setReferenceTime").at(0).value("time", 0LL), start);
    EXPECT_EQ(Calls("event").at(0).value("id", 0u), 0x11000040u);
    EXPECT_EQ(LastComplete(), Complete(1, 2));

    // With failed content it completes with errors.
    Fresh();
    m_factory->m_onRun = [](ScriptedJob& job) {
        job.CompleteJobNow();
        job.GetScanJobCallback()->SetSCContentFailed(true);
    };
    ASSERT_TRUE(Run({"-clb"}).IsSuccess());
    auto events = Calls("event");
    ASSERT_EQ(events.size(), 1u);  // a cloud laptop raises no completed-in-scan event
    EXPECT_EQ(events[0].value("id", 0u), 0x1100008au);
    const std::string message = events[0].value("message", "");
    EXPECT_NE(message.find("phase." + std::string(12, '\t') + "One or more subclient contents failed"),
              std::string::npos);
    EXPECT_EQ(LastComplete(), Complete(3, 2));
    EXPECT_NE(Params().find(" -scfail "), std::string::npos);
}

TEST_F(FileScanTest, TotalSizeAndStatisticsReachTheJobManager)
{
    m_factory->m_onCallback = [](ScriptedCallback& callback) {
        callback.AddOutputResource(std::make_shared<COutputResources>(1, "/data", "dev1"));
        callback.m_collectStats.collectFiles = 2;
        callback.m_collectStats.totalItems = 10;
        callback.m_collectStats.dataSize = 4096;
        callback.m_collectStats.folders = 3;
    };
    ASSERT_TRUE(Run().IsSuccess());
    EXPECT_EQ(Calls("setUncompBytesToXfer").at(0).value("bytes", 0), 4096);
    EXPECT_NE(Params().find(" -parent 1 -c 10 -maxcolnum 1 -numcol 2 -numfolder 3 "), std::string::npos);
    EXPECT_EQ(LastComplete(), Complete(1, 1));

    // The size update failing fails the phase.
    std::filesystem::remove(m_instance + "/JobManager/7.jsonl");
    CJobManagerFaults::FailCall("setUncompBytesToXfer");
    ASSERT_TRUE(Run().IsSuccess());
    EXPECT_TRUE(Calls("concatPhaseParams").empty());
    EXPECT_EQ(LastComplete(), Complete(2, 1));
}

// A reference time the callback already gave is not doubled.
TEST_F(FileScanTest, PhaseArgumentSwitchesAndTheIncompleteFilesFlag)
{
    m_factory->m_onCallback = [](ScriptedCallback& callback) { callback.m_presetArguments = " -r 55 "; };
    m_factory->m_onRun = [](ScriptedJob& job) {
        CBagPtr bag = job.Bag();
        (void)bag->Write(Id::idTrueUpQualified, true);
        (void)bag->Write(Id::idClientAppType, 2);
        (void)bag->Write(Id::idSkipBackupPhase, true);
        job.GetScanJobCallback()->SetQueriedIndexForIncompleteFiles(true);
    };
    ASSERT_TRUE(Run().IsSuccess());
    const std::string params = Params();
    EXPECT_EQ(params.find(" -r 55 "), 0u);
    EXPECT_EQ(params.find("-r", 2), std::string::npos) << params;
    EXPECT_NE(params.find(" -TrueUp "), std::string::npos) << params;
    EXPECT_EQ(params.substr(params.size() - 5), " -SBP") << params;
    ASSERT_EQ(Calls("setIndexQueriedForIncompleteLargeFiles").size(), 1u);
    EXPECT_EQ(LastComplete(), Complete(1, 1));
}

TEST_F(FileScanTest, TrueUpRetryBuildsANewJobThatKnowsItIsARetry)
{
    m_factory->m_onRun = [factory = m_factory.get()](ScriptedJob& job) {
        if (factory->m_jobs.size() == 1)
            (void)job.Bag()->Write(Id::idRestartScanForFileServerTrueUp, true);
    };
    ASSERT_TRUE(Run().IsSuccess());
    ASSERT_EQ(m_factory->m_jobs.size(), 2u);
    ASSERT_EQ(m_factory->m_callbacks.size(), 2u);
    CBagPtr first = m_factory->m_jobs[0]->Bag();
    CBagPtr second = m_factory->m_jobs[1]->Bag();
    EXPECT_NE(first, second);
    EXPECT_FALSE(first->GetBool(Id::idRetryScanAttempt));
    EXPECT_TRUE(second->GetBool(Id::idRetryScanAttempt));
    EXPECT_TRUE(second->GetBool(Id::idFileServerTrueUp));
    EXPECT_TRUE(m_factory->m_callbacks[1]->GetJobControlClient());
    EXPECT_EQ(LastComplete(), Complete(1, 1));
}

TEST_F(FileScanTest, VirtualServerAnalyticsReportsNothingAndItsEntryNeedsItsOptions)
{
    CFileScan scan(JobArgs({"-vmCI"}));
    EXPECT_TRUE(scan.Process(std::make_shared<CScanJobFactory>("inst")).IsSuccess());
    EXPECT_TRUE(Calls("complete").empty());
    EXPECT_TRUE(Calls("finishedWorkWithoutExit").empty());

    m_factory->m_runResult = CKxError(1168, "walk broke");
    CKxError result = Run({"-vmCI"});
    EXPECT_EQ(result.Code(), 1168);
    EXPECT_TRUE(Calls("complete").empty());

    // Its entry needs its options.
    const std::vector<std::string> all = {"-prefix", "p", "-directive", "d", "-j", "7", "-a", "2:5", "-t", "1"};
    for (size_t missing = 0; missing < all.size(); missing += 2) {
        std::vector<std::string> tokens = all;
        tokens.erase(tokens.begin() + static_cast<long>(missing), tokens.begin() + static_cast<long>(missing) + 2);
        CFileScanVSA entry(Args(tokens));
        EXPECT_TRUE(entry.Process().IsError()) << all[missing];
        EXPECT_EQ(entry.GetDirchangeFileName(), "") << all[missing];
    }
    CFileScanVSA entry(Args({"-prefix", "p", "-directive", "d", "-vm", "inst", "-j", "7", "-a", "2:5", "-cn", "client1",
                             "-jt", "tok", "-t", "1"}));
    ASSERT_TRUE(entry.Process().IsSuccess());
    EXPECT_EQ(entry.GetDirchangeFileName(), m_instance + "/JobResults/2/5/DCTot.zvf");
    EXPECT_EQ(entry.GetTempDirchangeFileName(), m_instance + "/JobResults/2/5/DCTmp.zvf");
    EXPECT_EQ(entry.GetSubclientJRPath(), m_instance + "/JobResults/2/5");
}

// The driver's own identity options; a missing instance or application, and an unknown instance,
// are run through the binary.
TEST_F(FileScanTest, FailuresBeforeTheJobManagerAreReturnedAndTypesThatFallBackToTheOlderScanner)
{
    for (const auto& [tokens, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-vm", "inst", "-a", "2:5", "-cn", "c", "-jt", "tok", "-t", "1"}, "GetJobId failed"},
             {{"-vm", "inst", "-j", "7", "-a", "2:5", "-cn", "c", "-t", "1"}, "GetOption failed, Option=jt"},
             {{"-vm", "inst", "-j", "7", "-a", "2:5", "-jt", "tok", "-t", "1"}, "GetOption failed, Option=cn"}}) {
        CKxError result = CFileScan(Args(tokens)).Process(m_factory);
        EXPECT_EQ(result.Code(), 87) << message;
        EXPECT_NE(result.AsString().find(message), std::string::npos) << result.AsString();
        EXPECT_FALSE(JournalExists()) << message;
    }

    // Types that fall back to the older scanner.
    WriteApp("2:5", 29, true, "", "\"quillbox\": true");
    CKxError quillbox = Run();
    EXPECT_EQ(quillbox.Code(), 1630);
    EXPECT_FALSE(JournalExists());

    // Without index version 2 the binary falls back (run there); some application types run here
    // whatever the index version.
    WriteApp("2:5", 1000, false);
    EXPECT_TRUE(Run().IsSuccess());
    EXPECT_EQ(LastComplete(), Complete(1, 1));
}

// ---- The job factory -----------------------------------------------------------------------------

using T = EScanJobType;

class ScanJobFactoryTest : public ScanJobTestEnv {
protected:
    unsigned Identify(const std::vector<std::string>& extra = {})
    {
        return m_factory.IdentifyScanJobType(JobArgs(extra)).Value();
    }

    CScanJobFactory m_factory{"inst"};
};

// What the factory builds: the database store for file-system jobs when asked, nothing for an
// application it cannot read or a type without classes.
TEST_F(ScanJobFactoryTest, BuiltJobsAndCallbacks)
{
    for (const auto& [setting, sqlite] : {std::pair{"2", false}, {"1", true}}) {
        Setting("nUseSQLiteDirchange", setting);
        CScanJobFactory factory("inst");
        ASSERT_EQ(factory.IdentifyScanJobType(JobArgs()).Value(), 5u);
        EXPECT_EQ(factory.IsUseSQLite(), sqlite);
        CScanJobCallbackPtr callback = factory.CreateScanJobCallback(T::eFileSystem);
        CScanJobPtr job = factory.CreateScanJob(T::eFileSystem);
        EXPECT_EQ(!!std::dynamic_pointer_cast<CScanJobFileSystemSQLiteDirchange>(job), sqlite);
        EXPECT_EQ(!!std::dynamic_pointer_cast<CScanJobFileSystemCallbackSQLiteDirchange>(callback), sqlite);
        EXPECT_TRUE(sqlite || std::dynamic_pointer_cast<CUnixScanJobCallback>(callback));
    }

    // Only type 5 takes the SQLite store.
    CScanJobFactory snapFactory("inst");
    ASSERT_EQ(snapFactory.IdentifyScanJobType(JobArgs({"-snap"})).Value(), 12u);
    EXPECT_FALSE(snapFactory.IsUseSQLite());

    EXPECT_EQ(m_factory.IdentifyScanJobType(Args({"-vm", "inst", "-j", "7"})).Value(), 0u);  // no -a
    EXPECT_EQ(m_factory.IdentifyScanJobType(Args({"-a", "9:9"})).Value(), 0u);              // no such file
    WriteFile(AppConfigPath("2:5"), "{\"appType\": ");                                      // broken JSON
    EXPECT_EQ(Identify(), 0u);
    EXPECT_EQ(m_factory.IdentifyScanJobType(nullptr).Value(), 0u);

    // Types 1 and 3 have a job but no callback: the driver fails their phase.
    for (unsigned type : {0u, 1u, 3u, 4u, 10u, 18u, 21u, 45u, 46u, 47u, 99u}) {
        EXPECT_EQ(!!m_factory.CreateScanJob(EScanJobType::FromNumber(type)), type == 1 || type == 3) << type;
        EXPECT_FALSE(m_factory.CreateScanJobCallback(EScanJobType::FromNumber(type))) << type;
    }
    CScanJobPtr archiving = m_factory.CreateScanJob(T::eArchiving);
    ASSERT_TRUE(std::dynamic_pointer_cast<CUnixScanJobFileSystemTandem>(archiving));
    EXPECT_EQ(archiving->GetInstance(), "inst");
    EXPECT_TRUE(std::dynamic_pointer_cast<CScanFileSystemTandemJobCallback>(m_factory.CreateScanJobCallback(T::eArchiving)));
    // A snapshot backup without a scan is not a file-system job; its catalog is.
    EXPECT_FALSE(std::dynamic_pointer_cast<CScanJobFileSystem>(m_factory.CreateScanJob(T::eSnapBackup)));
    EXPECT_EQ(m_factory.CreateScanJob(T::eSnapDiffCatalog)->AsString(), "ScanJob/FileSystem/SnapCatalog");
}

TEST_F(ScanJobFactoryTest, CommandLineRulesFirstMatchWins)
{
    const struct {
        std::vector<std::string> tokens;
        unsigned expected;
        std::vector<std::pair<const char*, const char*>> settings = {};
    } cases[] = {
        {{}, 0}, {{"-snap", "-BlockLevel", "-snaptape", "-dcs"}, 36},  // block-level catalog wins over snaptape
        {{"-snaptape", "-attrEx", "1"}, 37}, {{"-snaptape", "-attrEx", "0"}, 11},
        {{"-snaptape", "-attrEx", "0x10"}, 37}, {{"-snaptape", "-attrEx"}, 11},  // no value
        {{"-snaptape", "-attrEx", "1", "-dcs"}, 37}, {{"-snaptape", "-dcs"}, 48}, {{"-snaptape", "-snap"}, 11},
        {{"-snap", "-dc"}, 30}, {{"-snap", "-stub"}, 12}, {{"-snap"}, 12}, {{"-stub", "-fla"}, 45},
        {{"-stub", "-synthFull"}, 46}, {{"-rpId", "1", "-rpJId", "2", "-fla"}, 18}, {{"-rpId", "1"}, 0},
        {{"-fla", "-vmCI"}, 32}, {{"-vmCI", "-vmCatalog"}, 34}, {{"-vmCatalog"}, 35}, {{"-BlkOfflineCat", "-emg"}, 51},
        {{"-emg"}, 0},  // needs the object-store setting
        {{"-pkg", "Solr"}, 53}, {{"-pkg", "solr"}, 53}, {{"-pkg", "SOLR", "-SolrC"}, 33}, {{"-pkg", "Solr2"}, 0},
        {{"-pkg", "Hadoop"}, 0}, {{"-BlockLevel"}, 0},
        // Agent settings steer some rules; a delayed catalog leaves the block-level one alone.
        {{"-snaptape"}, 12, {{"nDelayCatalog", "1"}}}, {{"-snaptape", "-attrEx", "3"}, 36, {{"nDelayCatalog", "1"}}},
        {{"-snaptape", "-dcs"}, 48, {{"nDelayCatalog", "1"}}}, {{"-snaptape"}, 11, {{"nDelayCatalog", "0"}}},
        {{"-emg"}, 0, {{"nObjectStoreMigration", "2"}}}, {{"-emg"}, 50, {{"nObjectStoreMigration", "1"}}},
        {{"-emg", "-pkg", "Solr"}, 50, {{"nObjectStoreMigration", "1"}}},
    };
    for (const auto& c : cases) {
        m_settings = std::make_shared<CMemorySettingsStore>();
        ZVPlatformInfo::Install(m_settings);
        for (const auto& [key, value] : c.settings)
            Setting(key, value);
        std::string shown;
        for (const std::string& token : c.tokens)
            shown += token + " ";
        EXPECT_EQ(m_factory.IdentifyScanJobTypeFromCommandLine(Args(c.tokens)).Value(), c.expected) << shown;
    }
}

TEST_F(ScanJobFactoryTest, ApplicationSettingsAndOptionsTogether)
{
    const struct {
        int appType;
        const char* subclient;  // further subclient members
        const char* client;     // further client members
        const char* backupSetKind;
        std::vector<std::pair<const char*, const char*>> settings;
        std::vector<std::string> options;
        unsigned expected;
    } cases[] = {
        // Application types alone.
        {29, "", "", "", {}, {}, 5}, {17, "", "", "", {}, {}, 5}, {106, "", "", "", {}, {}, 5},
        {1000, "", "", "", {}, {}, 2}, {124, "", "", "", {}, {}, 15}, {33, "", "", "", {}, {}, 3},
        {43, "", "", "", {}, {}, 3}, {77, "", "", "", {}, {}, 0}, {0, "", "", "", {}, {}, 0},
        {38, "", "\"proxyClientId\": 7", "", {}, {}, 16}, {38, "", "", "", {}, {}, 0},
        {38, "", "\"proxyClientId\": -1", "", {}, {}, 0},
        // Block-level application types only with block-level backup on the subclient; they follow the
        // options, then the application manager.
        {5, "", "", "", {}, {}, 0}, {5, "\"blockLevelBackup\": 2", "", "", {}, {}, 0},
        {22, "\"blockLevelBackup\": 1", "", "", {}, {}, 0}, {5, "\"blockLevelBackup\": 1", "", "", {}, {"-snap"}, 12},
        {5, "\"blockLevelBackup\": 1", "", "", {}, {}, 0},
        {80, "\"blockLevelBackup\": 1, \"ddbBackup\": true", "", "", {}, {}, 17},
        // The extent application type needs its setting.
        {135, "", "", "", {}, {}, 0}, {135, "", "", "", {{"bEnableFileExtentBackup", "0"}}, {}, 0},
        {135, "", "", "", {{"bEnableFileExtentBackup", "1"}}, {}, 54},
        // A stub job on a file-system type is an archiving job; deleting needs setting and subclient.
        {29, "", "", "", {}, {"-stub"}, 42}, {29, "", "", "", {}, {"-stub", "-synthFull"}, 47},
        {29, "", "", "", {{"DeleteFileJob", "1"}}, {"-stub"}, 42},
        {29, "\"deleteFilesWithoutBackup\": 1", "", "", {{"DeleteFileJob", "1"}}, {"-stub"}, 55},
        {64, "\"deleteFilesWithoutBackup\": 1", "", "", {{"DeleteFileJob", "1"}}, {"-stub"}, 55},
        {64, "\"deleteFilesWithoutBackup\": 1", "", "", {{"DeleteFileJob", "2"}}, {"-stub"}, 42},
        // Application type 64 keeps content indexing, otherwise it is a file-system job.
        {64, "", "", "", {}, {"-pkg", "solr"}, 53}, {64, "", "", "", {}, {"-pkg", "Solr", "-SolrC"}, 33},
        {64, "", "", "", {}, {"-fla"}, 5}, {64, "", "", "", {}, {"-snap"}, 5}, {64, "", "", "", {}, {}, 5},
        // Application-manager rules come after the options: backup set, then subclient, then client.
        {29, "", "", "rejected", {}, {}, 10}, {29, "", "", "rejected", {}, {"-fla"}, 32},
        {29, "", "", "onDemand", {}, {}, 8}, {29, "\"ddbBackup\": true", "", "", {}, {}, 17},
        {29, "", "\"quillbox\": true", "", {}, {}, 21},
        {29, "\"ddbBackup\": true", "\"quillbox\": true", "onDemand", {}, {}, 8},
        // File analytics is the last resort; present counts, whatever its value.
        {29, "", "", "", {{"RunFileAnalytics", "0"}}, {}, 32},
        {29, "", "", "", {{"RunFileAnalytics", "0"}}, {"-snap"}, 12},
        {29, "", "", "onDemand", {{"RunFileAnalytics", "0"}}, {}, 8},
        {42, "", "", "", {{"RunFileAnalytics", "0"}}, {}, 32},
        // A snapshot catalog of other types checks for direct copy (none here: the fallback applies).
        {33, "", "", "", {}, {"-snap"}, 3}, {33, "\"snapEngine\": 81", "", "", {}, {"-snap"}, 52},
        {34, "", "", "", {{"RunSnapCatalogDirectIndex", "0"}}, {"-snap"}, 52},
        {34, "", "", "", {{"RunSnapCatalogDirectIndex", "0"}}, {"-snap", "-dc"}, 30},  // only the plain catalog
    };
    for (const auto& c : cases) {
        m_settings = std::make_shared<CMemorySettingsStore>();
        ZVPlatformInfo::Install(m_settings);
        WriteApp("2:5", c.appType, true, c.subclient, c.client, c.backupSetKind);
        for (const auto& [key, value] : c.settings)
            Setting(key, value);
        std::string shown = std::to_string(c.appType) + " " + c.subclient + c.client + c.backupSetKind;
        for (const std::string& option : c.options)
            shown += " " + option;
        EXPECT_EQ(Identify(c.options), c.expected) << shown;  // one factory: nothing read earlier sticks
    }
}

}  // namespace
