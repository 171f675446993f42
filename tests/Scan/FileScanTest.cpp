// The driver: what the job manager is told for good, failed, killed, retried and
// completed-in-scan jobs, and the failures that happen before the job manager can be told.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/JobManagerFaults.h"
#include "Scan/FileScan.h"
#include "Scan/FileScanVSA.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <filesystem>
#include <functional>
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
        for (const nlohmann::json& record : Journal())
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

TEST_F(FileScanTest, StreamCountOfZeroBecomesOneAndMinusOneIsNotReported)
{
    for (const auto& [streams, reported] : std::vector<std::pair<int, int>>{{0, 1}, {-1, -5}, {3, 3}}) {
        Fresh();
        m_factory->m_onCallback = [streams](ScriptedCallback& callback) { callback.m_streams = streams; };
        ASSERT_TRUE(Run().IsSuccess());
        const auto calls = Calls("setNumStreams");
        EXPECT_EQ(calls.empty() ? -5 : calls.at(0).value("streams", -7), reported) << streams;
        EXPECT_EQ(LastComplete(), Complete(1, 1));
    }
}

TEST_F(FileScanTest, KilledJobIsNotReportedAsFailed)
{
    WriteFile(m_instance + "/JobManager/7.quit", "");
    m_factory->m_runResult = CKxError(995, "walk aborted");
    ASSERT_TRUE(Run().IsSuccess());
    EXPECT_EQ(CallNames(), (Names{"finishedWorkWithoutExit"}));

    // A job that finished its work before the quit is still completed.
    Fresh();
    ASSERT_TRUE(Run().IsSuccess());
    EXPECT_EQ(LastComplete(), Complete(1, 1));
}

TEST_F(FileScanTest, JobCompletedInScanSetsTheReferenceTimeAndCompletesTheJob)
{
    m_factory->m_onRun = [](ScriptedJob& job) { job.CompleteJobNow(); };
    ASSERT_TRUE(Run().IsSuccess());
    const long long start = m_factory->m_jobs.at(0)->Bag()->Get<long long>(Id::idScanStartTime, 0);
    EXPECT_EQ(CallNames(), (Names{"addScanFileFailures", "setReferenceTime", "updateInfo", "event", "setNumStreams",
                                  "concatPhaseParams", "updateInfo", "complete", "finishedWorkWithoutExit"}));
    EXPECT_EQ(Calls("setReferenceTime").at(0).value("time", 0LL), start);
    EXPECT_EQ(Calls("event").at(0).value("id", 0u), 0x11000040u);
    EXPECT_EQ(LastComplete(), Complete(1, 2));
}

TEST_F(FileScanTest, CompletedInScanWithFailedContentCompletesWithErrors)
{
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

TEST_F(FileScanTest, VirtualServerAnalyticsReportsNothing)
{
    CFileScan scan(JobArgs({"-vmCI"}));
    EXPECT_TRUE(scan.Process(std::make_shared<CScanJobFactory>("inst")).IsSuccess());
    EXPECT_TRUE(Calls("complete").empty());
    EXPECT_TRUE(Calls("finishedWorkWithoutExit").empty());

    m_factory->m_runResult = CKxError(1168, "walk broke");
    CKxError result = Run({"-vmCI"});
    EXPECT_EQ(result.Code(), 1168);
    EXPECT_TRUE(Calls("complete").empty());
}

TEST_F(FileScanTest, FailuresBeforeTheJobManagerAreReturned)
{
    struct Case {
        std::vector<std::string> tokens;
        long code;
        std::string message;
    };
    const std::vector<std::string> good = {"-vm", "inst", "-j", "7", "-a", "2:5", "-cn", "c", "-jt", "tok", "-t", "1"};
    auto without = [&good](const std::string& option) {
        std::vector<std::string> tokens;
        for (size_t i = 0; i < good.size(); i += 2)
            if (good[i] != option) {
                tokens.push_back(good[i]);
                tokens.push_back(good[i + 1]);
            }
        return tokens;
    };
    // A missing instance or application, and an unknown instance, are run through the binary.
    const std::vector<Case> cases = {
        {without("-j"), 87, "GetJobId failed"},
        {without("-jt"), 87, "GetOption failed, Option=jt"},
        {without("-cn"), 87, "GetOption failed, Option=cn"},
    };
    for (const Case& c : cases) {
        CFileScan scan(Args(c.tokens));
        CKxError result = scan.Process(m_factory);
        ASSERT_TRUE(result.IsError()) << c.message;
        EXPECT_EQ(result.Code(), c.code) << c.message;
        EXPECT_NE(result.AsString().find(c.message), std::string::npos) << result.AsString();
        EXPECT_FALSE(JournalExists()) << c.message;
    }
}

TEST_F(FileScanTest, TypesThatFallBackToTheOlderScanner)
{
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

TEST_F(FileScanTest, VirtualServerEntryNeedsItsOptions)
{
    const std::vector<std::string> all = {"-prefix", "p", "-directive", "d", "-j", "7", "-a", "2:5", "-t", "1"};
    for (size_t missing = 0; missing < all.size(); missing += 2) {
        std::vector<std::string> tokens = all;
        tokens.erase(tokens.begin() + static_cast<long>(missing), tokens.begin() + static_cast<long>(missing) + 2);
        CFileScanVSA scan(Args(tokens));
        EXPECT_TRUE(scan.Process().IsError()) << all[missing];
        EXPECT_EQ(scan.GetDirchangeFileName(), "") << all[missing];
    }

    CFileScanVSA scan(Args({"-prefix", "p", "-directive", "d", "-vm", "inst", "-j", "7", "-a", "2:5", "-cn", "client1",
                            "-jt", "tok", "-t", "1"}));
    ASSERT_TRUE(scan.Process().IsSuccess());
    EXPECT_EQ(scan.GetDirchangeFileName(), m_instance + "/JobResults/2/5/DCTot.zvf");
    EXPECT_EQ(scan.GetTempDirchangeFileName(), m_instance + "/JobResults/2/5/DCTmp.zvf");
    EXPECT_EQ(scan.GetSubclientJRPath(), m_instance + "/JobResults/2/5");
}

}  // namespace
