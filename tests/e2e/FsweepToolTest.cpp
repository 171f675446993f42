// The fsweep binary on a scratch instance: what it tells the job manager, what it prints, and
// its exit status.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

class FsweepToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(Binary())) << Binary() << " is missing: build the fsweep target first";
        std::string pattern = (fs::temp_directory_path() / "fsweep-e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        m_instance = m_root + "/inst";
        fs::create_directories(m_instance + "/registry");
        WriteApp(29, true);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    static std::string Binary() { return std::string(FSWEEP_BINARY_DIR) + "/src/fsweep"; }

    void WriteApp(int appType, bool indexV2)
    {
        Write(m_instance + "/config/apps/2:5.json",
              "{\"appType\": " + std::to_string(appType) + ", \"indexV2\": " + (indexV2 ? "true" : "false") +
                  ", \"client\": {\"id\": 2, \"name\": \"client1\", \"laptop\": false},"
                  " \"backupSet\": {\"name\": \"defaultBackupSet\", \"default\": true},"
                  " \"subclient\": {\"id\": 5, \"name\": \"sc1\", \"default\": false, \"content\": [\"" +
                  std::string(FSWEEP_SOURCE_DIR) + "/src\"]}}\n");
    }
    void Setting(const std::string& line) { Append(m_instance + "/registry/FileSystemAgent", line + "\n"); }

    static void Write(const std::string& path, const std::string& content)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::trunc) << content;
    }
    static void Append(const std::string& path, const std::string& content)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::app) << content;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Runs fsweep with `args` and FSWEEP_ROOT at the scratch root (plus `env` entries).
    RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        const std::string outPath = m_root + "/stdout", errPath = m_root + "/stderr";
        std::vector<std::string> environment = {"FSWEEP_ROOT=" + m_root};
        for (char** entry = environ; *entry; ++entry)
            if (std::string(*entry).rfind("FSWEEP_", 0) != 0)
                environment.push_back(*entry);
        environment.insert(environment.end(), env.begin(), env.end());

        std::vector<std::string> argv = {Binary()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argvPtrs, envPtrs;
        for (std::string& a : argv)
            argvPtrs.push_back(a.data());
        argvPtrs.push_back(nullptr);
        for (std::string& e : environment)
            envPtrs.push_back(e.data());
        envPtrs.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        RunResult result;
        if (posix_spawn(&pid, argvPtrs[0], &actions, nullptr, argvPtrs.data(), envPtrs.data()) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        result.out = Read(outPath);
        result.err = Read(errPath);
        return result;
    }

    static std::vector<std::string> Job(const std::vector<std::string>& extra = {}, const std::string& type = "1")
    {
        std::vector<std::string> args = {"-vm", "inst", "-j", "7", "-a", "2:5", "-cn", "client1", "-jt", "tok",
                                         "-t", type};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::vector<nlohmann::json> Journal() const
    {
        std::vector<nlohmann::json> records;
        std::ifstream in(m_instance + "/JobManager/7.jsonl");
        for (std::string line; std::getline(in, line);)
            records.push_back(nlohmann::json::parse(line));
        return records;
    }
    // The records from the last concatPhaseParams on.
    std::vector<nlohmann::json> JournalTail() const
    {
        std::vector<nlohmann::json> records = Journal();
        for (size_t i = records.size(); i-- > 0;)
            if (records[i].value("call", "") == "concatPhaseParams")
                return {records.begin() + static_cast<long>(i), records.end()};
        return records;
    }

    std::string m_root;
    std::string m_instance;
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
    ASSERT_EQ(tail.size(), 4u) << nlohmann::json(Journal()).dump();
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
    RunResult run = Run(Job({"-ref", "1700000000"}, "2"));
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
    std::vector<nlohmann::json> journal = Journal();
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(journal[journal.size() - 2], kFailedPhase);
    for (const nlohmann::json& record : journal)
        EXPECT_NE(record["call"], "concatPhaseParams");
}

TEST_F(FsweepToolTest, MissingInstanceOptionIsAUsageError)
{
    RunResult run = Run({"-j", "7", "-a", "2:5", "-cn", "client1", "-jt", "tok", "-t", "1"});
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("GetOption failed, Option=vm"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(m_instance + "/JobManager/7.jsonl"));
}

TEST_F(FsweepToolTest, UnknownApplicationTypeIsRefused)
{
    WriteApp(77, true);
    RunResult run = Run(Job());
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("Failed to determine scan job type"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(m_instance + "/JobManager/7.jsonl"));
}

TEST_F(FsweepToolTest, IndexVersionOneFallsBackToTheOlderScanner)
{
    WriteApp(29, false);
    RunResult run = Run(Job());
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("IndexV2 is not enabled, scan will fallback to old method"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("(code 1630)"), std::string::npos) << run.err;
}

TEST_F(FsweepToolTest, MissingInstanceOrConfigurationFails)
{
    RunResult noInstance = Run({"-vm", "nosuch", "-j", "7", "-a", "2:5", "-cn", "c", "-jt", "t", "-t", "1"});
    EXPECT_EQ(noInstance.status, 1);
    EXPECT_NE(noInstance.err.find("nosuch"), std::string::npos) << noInstance.err;

    fs::remove(m_instance + "/config/apps/2:5.json");
    RunResult noConfig = Run(Job());
    EXPECT_NE(noConfig.status, 0);
    EXPECT_NE(noConfig.err.find("Failed to determine scan job type"), std::string::npos) << noConfig.err;
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
