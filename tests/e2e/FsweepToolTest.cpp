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

    // The source tree as content, with further members of "subclient".
    void WriteApp(int appType, bool indexV2, const std::string& members = "")
    {
        Content({std::string(FSWEEP_SOURCE_DIR) + "/src"}, members, {.appType = appType, .indexV2 = indexV2});
    }
    RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        return ScanJobFixture::Run(Binary("fsweep"), args, false, false, env);
    }
    std::vector<std::string> Args(const std::vector<std::string>& extra = {}, int type = 1) const
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
    RunResult run = Run(Args());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Instance=inst\n"), std::string::npos);
    EXPECT_NE(run.out.find("BackupType=1\n"), std::string::npos);

    // The arguments and the order of the calls are checked in process; here, that the binary makes them.
    std::vector<nlohmann::json> tail = JournalTail();
    ASSERT_EQ(tail.size(), 4u) << nlohmann::json(Journal(7)).dump();
    EXPECT_NE(tail[0].value("params", "").find(" -new_scan"), std::string::npos) << tail[0];
    EXPECT_EQ(tail[2], kCompletedPhase);

    // The help lists the options.
    run = Run({"-h"});
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"-vm", "-j ", "-a ", "-cn", "-jt", "-t ", "-f ", "-ref", "-snap", "-snaptape", "-stub",
                               "-fla", "-pkg", "-pcs", "-clb", "-amr", "FSWEEP_ROOT", "Exit status"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

// A failed phase is told to the job manager (exit 0); a job manager that could not be told is a failure.
TEST_F(FsweepToolTest, DebugFailScanFailsThePhaseAndAnUntoldJobManagerFailsTheRun)
{
    Settings("DEBUG_FAIL_SCAN Y\n");
    RunResult run = Run(Args());
    ASSERT_EQ(run.status, 0) << run.err;  // the job manager was told
    std::vector<nlohmann::json> journal = Journal(7);
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(journal[journal.size() - 2], kFailedPhase);
    for (const nlohmann::json& record : journal)
        EXPECT_NE(record["call"], "concatPhaseParams");

    Settings("");
    run = Run(Args(), {"FSWEEP_JM_FAIL=complete"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("job manager was not told"), std::string::npos) << run.err;
}

// Every bad input ends in one plain line on standard error. Command-line errors and jobs that
// cannot start tell no job manager; a bad configuration value fails the phase with the same line
// as the job manager's message; a bad agent setting is only logged.
TEST_F(FsweepToolTest, BadInputIsRefusedWithOneLine)
{
    const std::string config = m_instance + "/config/apps/2:5.json";
    const std::vector<std::string> noInstance = {"-j", "7", "-a", "2:5", "-cn", "client1", "-jt", "tok", "-t", "1"};
    std::vector<std::string> negativeJob = Args();
    negativeJob[3] = "-3";
    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string message;         // in the one line on standard error; "": standard error stays empty
        int appType = 29;            // 0: no configuration file
        bool indexV2 = true;
        std::string members = {};    // further members of "subclient"
        std::string settings = {};   // registry/FileSystemAgent
        bool phaseFailed = false;    // the journal's complete call failed the phase with `message`
    } cases[] = {
        {"no instance option", noInstance, 2, "GetOption failed, Option=vm"},
        {"no such instance", {"-vm", "nosuch", "-j", "7", "-a", "2:5", "-cn", "c", "-jt", "t", "-t", "1"}, 1, "nosuch"},
        {"unknown option", Args({"-bogus"}), 2, "fsweep: unknown option -bogus"},
        {"stray argument", Args({"extra"}), 2, "unexpected argument \"extra\""},
        {"switch with a value", Args({"-seb", "yes"}), 2, "option -seb takes no value"},
        {"backup type no job takes", JobArgs(7, 77), 2,
         "option -t value \"77\" is not a backup type (1 full, 2 incremental, 4 differential)"},
        {"reference time not a number", Args({"-ref", "abc"}, 2), 2,
         "option -ref value \"abc\" is not a non-negative decimal number"},
        {"negative job id", negativeJob, 2, "option -j value \"-3\" is not a non-negative decimal number"},
        {"unknown application type", Args(), 2, "Failed to determine scan job type", 77},
        {"no configuration", Args(), 1, "Failed to determine scan job type", 0},
        {"index version one", Args(), 3, "IndexV2 is not enabled, scan will fallback", 29, false},
        {"streams not a number", Args(), 0,
         config + ": key \"subclient.numStreams\" is \"abc\", expected an integer from 1 to 1000", 29, true,
         "\"numStreams\": \"abc\"", "", true},
        {"streams out of range", Args(), 0,
         config + ": key \"subclient.numStreams\" is -5, expected an integer from 1 to 1000", 29, true,
         "\"numStreams\": -5", "", true},
        {"malformed settings", Args(), 0, "", 29, true, "", "nLogLevel abc\nnUseSQLiteDirchange many\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetJournal(7);
        Settings(c.settings);
        if (c.appType)
            WriteApp(c.appType, c.indexV2, c.members);
        else
            fs::remove(config);
        RunResult run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.message.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            ExpectOneLine(run.err, "fsweep");
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        }
        EXPECT_TRUE(c.status == 0 || !fs::exists(m_instance + "/JobManager/7.jsonl"));
        if (c.phaseFailed) {
            EXPECT_EQ(FailedPhase(7), c.message);
        }
    }
}

}  // namespace
