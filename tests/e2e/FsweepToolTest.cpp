// The fsweep binary on a scratch instance: what it tells the job manager, what it prints, and
// its exit status.
#include "ScanJobFixture.h"

namespace {

using namespace e2e;

class FsweepToolTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        WriteApp(29, true);
    }

    void WriteApp(int appType, bool indexV2)
    {
        WriteSubclient("\"content\": [\"" + std::string(FSWEEP_SOURCE_DIR) + "/src\"]", appType, indexV2);
    }
    void Setting(const std::string& line)
    {
        std::ofstream(m_instance + "/registry/FileSystemAgent", std::ios::app) << line << "\n";
    }
    RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        return ScanJobFixture::Run(Binary("fsweep"), args, false, false, env);
    }
    static std::vector<std::string> Job(const std::vector<std::string>& extra = {}, int type = 1)
    {
        return JobArgs(7, type, extra);
    }
    // The records from the last concatPhaseParams on.
    std::vector<nlohmann::json> JournalTail() const
    {
        std::vector<nlohmann::json> records = Journal(7);
        for (size_t i = records.size(); i-- > 0;)
            if (records[i].value("call", "") == "concatPhaseParams")
                return {records.begin() + static_cast<long>(i), records.end()};
        return records;
    }
};

const nlohmann::json kCompletedPhase = {{"call", "complete"}, {"status", 1}, {"for", 1}};
const nlohmann::json kFailedPhase = {{"call", "complete"}, {"status", 2}, {"for", 1}};

TEST_F(FsweepToolTest, FileSystemJobCompletesThePhaseWithNextPhaseArguments)
{
    Setting("nLogLevel 2");
    RunResult run = Run(Job());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Instance=inst\n"), std::string::npos);
    EXPECT_NE(run.out.find("BackupType=1\n"), std::string::npos);

    std::vector<nlohmann::json> tail = JournalTail();
    ASSERT_EQ(tail.size(), 4u) << nlohmann::json(Journal(7)).dump();
    EXPECT_EQ(tail[0]["action"], "JMCONCAT");
    const std::string params = tail[0]["params"];
    EXPECT_NE(params.find(" -parent 1 "), std::string::npos) << params;
    EXPECT_NE(params.find(" -new_scan"), std::string::npos) << params;
    EXPECT_NE(params.find(" -r "), std::string::npos) << params;
    EXPECT_EQ(tail[1]["call"], "updateInfo");
    EXPECT_EQ(tail[2], kCompletedPhase);
    EXPECT_EQ(tail[3]["call"], "finishedWorkWithoutExit");

    EXPECT_TRUE(fs::is_directory(m_instance + "/JobResults/2/5"));
    EXPECT_TRUE(fs::is_directory(m_instance + "/JobResults/jobs/7"));
    const std::string log = Read(m_instance + "/Log_Files/fsweep.log");
    EXPECT_NE(log.find("Running ScanType - [ScanJob/FileSystem] CallbackType - [UnixScanJobCallback]"),
              std::string::npos);
    EXPECT_NE(log.find("ScanJobType=FileSystem(5) for ulAppType=29"), std::string::npos);
}

TEST_F(FsweepToolTest, IncrementalJobWithReferenceTime)
{
    RunResult run = Run(Job({"-ref", "1700000000"}, 2));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<nlohmann::json> tail = JournalTail();
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.back()["call"], "finishedWorkWithoutExit");
    EXPECT_EQ(tail[tail.size() - 2], kCompletedPhase);
}

TEST_F(FsweepToolTest, DebugFailScanFailsThePhase)
{
    Setting("DEBUG_FAIL_SCAN Y");
    RunResult run = Run(Job());
    ASSERT_EQ(run.status, 0) << run.err;  // the job manager was told
    std::vector<nlohmann::json> journal = Journal(7);
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(journal[journal.size() - 2], kFailedPhase);
    for (const nlohmann::json& record : journal)
        EXPECT_NE(record["call"], "concatPhaseParams");
}

TEST_F(FsweepToolTest, RefusedJobsTellNoJobManager)
{
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int appType;  // 0: no configuration file
        bool indexV2;
        int status;  // -1: any failure
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no instance option", {"-j", "7", "-a", "2:5", "-cn", "client1", "-jt", "tok", "-t", "1"}, 29, true, 2,
         "GetOption failed, Option=vm"},
        {"no such instance", {"-vm", "nosuch", "-j", "7", "-a", "2:5", "-cn", "c", "-jt", "t", "-t", "1"}, 29, true, 1,
         "nosuch"},
        {"unknown application type", Job(), 77, true, -1, "Failed to determine scan job type"},
        {"no configuration", Job(), 0, true, -1, "Failed to determine scan job type"},
        {"index version one", Job(), 29, false, 3, "IndexV2 is not enabled, scan will fallback to old method"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.appType)
            WriteApp(c.appType, c.indexV2);
        else
            fs::remove(m_instance + "/config/apps/2:5.json");
        RunResult run = Run(c.args);
        if (c.status < 0)
            EXPECT_NE(run.status, 0);
        else
            EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(m_instance + "/JobManager/7.jsonl"));
    }
    RunResult usage = Run({"-j", "7"});
    EXPECT_EQ(std::count(usage.err.begin(), usage.err.end(), '\n'), 1) << usage.err;
    WriteApp(29, false);
    EXPECT_NE(Run(Job()).err.find("(code 1630)"), std::string::npos);
}

TEST_F(FsweepToolTest, UntoldJobManagerIsAFailure)
{
    RunResult run = Run(Job(), {"FSWEEP_JM_FAIL=complete"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("job manager was not told"), std::string::npos) << run.err;
}

TEST_F(FsweepToolTest, HelpListsTheOptions)
{
    RunResult run = Run({"-h"});
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"-vm", "-j ", "-a ", "-cn", "-jt", "-t ", "-f ", "-ref", "-snap", "-snaptape", "-stub",
                               "-fla", "-pkg", "-pcs", "-clb", "-amr", "FSWEEP_ROOT", "Exit status"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

}  // namespace
