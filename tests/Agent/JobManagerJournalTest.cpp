#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "Agent/BackupJobClient.h"
#include "Agent/JobJournal.h"
#include "Agent/ServiceMonitor.h"
#include "Agent/ZVJobCtrlClient.h"
#include "AgentTestEnv.h"
#include "Base/LogWriter.h"

namespace {

class JobManagerJournalTest : public AgentTestEnv {
protected:
    CBackupJobClientPtr Client(int64_t jobId = 77)
    {
        return CBackupJobClient::createInstance("localhost", jobId, 0, 4, false, "token");
    }
    std::vector<std::string> Journal(int64_t jobId = 77) const
    {
        return ReadLines(m_instance + "/JobManager/" + std::to_string(jobId) + ".jsonl");
    }
};

// The calls a scan makes are read back by the end-to-end and driver tests; pinned here is the
// encoding: escapes, the largest number, the action names, the argument lists.
TEST_F(JobManagerJournalTest, EveryCallIsOneExactLine)
{
    CBackupJobClientPtr jm = Client();
    ASSERT_TRUE(jm);
    EXPECT_TRUE(jm->concatPhaseParams(" -r 1700000000 -TrueUp \"q\"\\", CBackupJobClient::JMCONCAT).IsSuccess());
    EXPECT_TRUE(jm->concatPhaseParams("x", 3).IsSuccess());
    EXPECT_TRUE(jm->concatPhaseParams("", 1).IsSuccess());
    EXPECT_TRUE(jm->concatPhaseParams("y", 9).IsSuccess());
    EXPECT_TRUE(jm->setUncompBytesToXfer(18446744073709551615ull).IsSuccess());
    EXPECT_TRUE(jm->setUnCompBytesToAdd(10).IsSuccess());
    EXPECT_TRUE(jm->addFilesIndexed(100).IsSuccess());
    EXPECT_TRUE(jm->setPendingCause(0x13000257, {"CLIENTSCAN", "", "", ""}).IsSuccess());
    EXPECT_TRUE(jm->jobAlive().IsSuccess());
    // A text that is not UTF-8 is mended, and a newline in it stays escaped inside its line.
    EXPECT_TRUE(jm->concatPhaseParams("/data/caf\xe9\n", CBackupJobClient::JMSTRSET).IsSuccess());
    const std::vector<std::string> expected = {
        R"({"call":"concatPhaseParams","params":" -r 1700000000 -TrueUp \"q\"\\","action":"JMCONCAT"})",
        R"({"call":"concatPhaseParams","params":"x","action":"JMSTRSET"})",
        R"({"call":"concatPhaseParams","params":"","action":"JMNULLIFY"})",
        R"({"call":"concatPhaseParams","params":"y","action":"??"})",
        R"({"call":"setUncompBytesToXfer","bytes":18446744073709551615})",
        R"({"call":"setUnCompBytesToAdd","bytes":10})",
        R"({"call":"addFilesIndexed","count":100})",
        R"({"call":"setPendingCause","id":318767703,"args":["CLIENTSCAN","","",""]})",
        R"({"call":"jobAlive"})",
        "{\"call\":\"concatPhaseParams\",\"params\":\"/data/caf\xef\xbf\xbd\\n\",\"action\":\"JMSTRSET\"}",
    };
    EXPECT_EQ(Journal(), expected);
    EXPECT_EQ(jm->getLastErrorNumber(), 0);
}

TEST_F(JobManagerJournalTest, ConcurrentAppendsOfThreadsAndProcessesNeverInterleave)
{
    constexpr int kThreads = 8;
    constexpr int kCalls = 400;
    CBackupJobClientPtr jm = Client();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            // Long parameters make a torn write visible.
            std::string params(200 + t * 50, static_cast<char>('a' + t));
            for (int i = 0; i < kCalls; ++i) {
                EXPECT_TRUE(jm->concatPhaseParams(params + "#" + std::to_string(i), CBackupJobClient::JMCONCAT)
                                .IsSuccess());
                if (i % 50 == 0 && EvEvent::Raise(0x11000040, EvEvent::Information, "t" + std::to_string(t)).IsError())
                    ADD_FAILURE() << "event of thread " << t;
            }
        });
    EvEvent::SetJobId(77);
    for (std::thread& thread : threads)
        thread.join();

    std::map<int, int> nextIndex;
    size_t calls = 0;
    for (const std::string& line : Journal()) {
        nlohmann::json record = nlohmann::json::parse(line);  // throws, failing the test, on a torn line
        if (record["call"] == "event")
            continue;
        ++calls;
        std::string params = record["params"];
        int t = params[0] - 'a';
        size_t hash = params.find('#');
        ASSERT_EQ(hash, static_cast<size_t>(200 + t * 50));
        EXPECT_EQ(params.find_first_not_of(params[0]), hash);
        EXPECT_EQ(std::stoi(params.substr(hash + 1)), nextIndex[t]++) << "each thread's calls stay in order";
    }
    EXPECT_EQ(calls, static_cast<size_t>(kThreads * kCalls));

    // Processes sharing one journal file never interleave either.
    constexpr int kChildren = 3;
    constexpr int kLines = 300;
    std::string path = m_instance + "/JobManager/shared.jsonl";
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string text(3000, static_cast<char>('k' + c));
            int failures = 0;
            for (int i = 0; i < kLines; ++i)
                failures += CJobJournal::AppendToFile(path, R"({"text":")" + text + "\"}").IsError();
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kChildren * kLines));
    for (const std::string& line : lines) {
        std::string text = nlohmann::json::parse(line)["text"];
        ASSERT_EQ(text.size(), 3000u);
        EXPECT_EQ(text.find_first_not_of(text[0]), std::string::npos);
    }
    EXPECT_EQ(CJobJournal::AppendToFile(path, "{}\n{}").Code(), KxCode::InvalidParameter);
}

TEST_F(JobManagerJournalTest, InjectedFailuresWriteNothingAndSetTheLastError)
{
    CJobManagerFaults::FailNthCall(2, 1234);
    CBackupJobClientPtr jm = Client();
    CJobManagerFaults::Clear();  // the plan is taken when the client is created
    EXPECT_TRUE(jm->setNumStreams(1).IsSuccess());
    CKxError failed = jm->updateInfo();
    EXPECT_EQ(failed.Code(), 1234);
    EXPECT_NE(failed.AsString().find("updateInfo"), std::string::npos);
    EXPECT_EQ(jm->getLastErrorNumber(), 1234);
    EXPECT_NE(jm->getLastErrorText().find("updateInfo"), std::string::npos);
    EXPECT_TRUE(jm->complete(1, 1).IsSuccess());
    EXPECT_EQ(Journal(), (std::vector<std::string>{R"({"call":"setNumStreams","streams":1})",
                                                   R"({"call":"complete","status":1,"for":1})"}));

    CJobManagerFaults::FailCall("complete");
    CBackupJobClientPtr second = Client(78);
    EXPECT_TRUE(second->updateInfo().IsSuccess());
    EXPECT_EQ(second->complete(2, 1).Code(), 1);
    EXPECT_EQ(second->complete(2, 1).Code(), 1) << "a call named in the plan fails every time";
    EXPECT_TRUE(second->jobAlive().IsSuccess());
    EXPECT_EQ(Journal(78), (std::vector<std::string>{R"({"call":"updateInfo"})", R"({"call":"jobAlive"})"}));

    // A plan in the environment fails calls of a whole process.
    CJobManagerFaults::Plan plan;
    EXPECT_TRUE(CJobManagerFaults::ParsePlan("complete:995", plan));
    EXPECT_EQ(plan.failCallName, "complete");
    EXPECT_EQ(plan.code, 995);
    EXPECT_TRUE(CJobManagerFaults::ParsePlan("#3", plan));
    EXPECT_EQ(plan.failNthCall, 3u);
    EXPECT_EQ(plan.code, 1);
    for (const char* bad : {"", "#", "#0", "#x", ":5", "complete:", "complete:x", "complete:0"})
        EXPECT_FALSE(CJobManagerFaults::ParsePlan(bad, plan)) << bad;

    CJobManagerFaults::Clear();
    ::setenv("FSWEEP_JM_FAIL", "#1:7", 1);
    CBackupJobClientPtr planned = Client();
    EXPECT_EQ(planned->setNumStreams(1).Code(), 7);
    EXPECT_TRUE(planned->setNumStreams(1).IsSuccess());
    ::setenv("FSWEEP_JM_FAIL", "bogus:", 1);
    EXPECT_TRUE(Client(79)->setNumStreams(1).IsSuccess()) << "a malformed plan injects nothing";
}

TEST_F(JobManagerJournalTest, UnwritableJournalIsAFailedCall)
{
    CBackupJobClientPtr jm = Client();
    std::filesystem::create_directories(m_instance + "/JobManager/77.jsonl");  // a folder where the file goes
    CKxError err = jm->complete(1, 1);
    EXPECT_TRUE(err.IsError());
    EXPECT_EQ(jm->getLastErrorNumber(), EISDIR);

    ZVPI_Focus::clearFocus();
    EXPECT_EQ(Client(), nullptr) << "no instance, no job manager";
}

TEST_F(JobManagerJournalTest, JobControlQuitFlagAndEndOfWork)
{
    ZVJobCtrlClient control(77);
    EXPECT_EQ(control.initJobControl("").Code(), KxCode::InvalidParameter);
    EXPECT_TRUE(control.initJobControl("tok").IsSuccess());
    EXPECT_FALSE(control.checkQuitFlag());
    WriteFile(m_instance + "/JobManager/78.quit", "");
    EXPECT_FALSE(control.checkQuitFlag()) << "another job's flag";
    WriteFile(m_instance + "/JobManager/77.quit", "");
    EXPECT_TRUE(control.checkQuitFlag());
    EXPECT_TRUE(control.finishedWorkWithoutExit(120000).IsSuccess());
    EXPECT_EQ(Journal(), (std::vector<std::string>{R"({"call":"finishedWorkWithoutExit","ms":120000})"}));
    ZVPI_Focus::clearFocus();
    EXPECT_FALSE(control.checkQuitFlag());
}

TEST_F(JobManagerJournalTest, EventsGoToTheLogUntilTheJobIsKnown)
{
    std::string logPath = m_root + "/events.log";
    ASSERT_TRUE(CLogWriter::Instance().Open(logPath, 0).IsSuccess());
    EXPECT_TRUE(EvEvent::Raise(0x1100000A, EvEvent::Critical, "before the job").IsSuccess());
    CLogWriter::Instance().Close();
    EXPECT_NE(ReadFile(logPath).find("before the job"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_instance + "/JobManager/77.jsonl"));

    EvEvent::SetJobId(77);
    EXPECT_TRUE(EvEvent::Raise(0x11000040, EvEvent::Information, "done").IsSuccess());
    EXPECT_TRUE(EvEvent::Raise(0x1100008a, 6, "no files\t\t", {"a", "b"}).IsSuccess());
    EXPECT_TRUE(EvEvent::Raise(1, 4, "odd").IsSuccess());
    EXPECT_TRUE(EvEvent::Raise(2, EvEvent::Minor, "m").IsSuccess());
    EXPECT_EQ(Journal(), (std::vector<std::string>{
                             R"({"call":"event","id":285212736,"severity":"information","message":"done"})",
                             R"({"call":"event","id":285212810,"severity":"major","message":"no files\t\t","args":["a","b"]})",
                             R"({"call":"event","id":1,"severity":"4","message":"odd"})",
                             R"({"call":"event","id":2,"severity":"minor","message":"m"})",
                         }));
    EvEvent::CreateProcessContext("again");
    EXPECT_EQ(EvEvent::GetJobId(), 0);
}

TEST_F(JobManagerJournalTest, ServiceCheckInResultsFoldersAndServerName)
{
    ASSERT_TRUE(uxsvc_checkin("fsweep_77").IsSuccess());
    EXPECT_EQ(ReadFile(m_instance + "/run/fsweep_77"), std::to_string(::getpid()) + "\n");
    for (const char* bad : {"", "a/b", ".."})
        EXPECT_EQ(uxsvc_checkin(bad).Code(), KxCode::InvalidParameter) << bad;

    // The folders themselves are where the end-to-end tests find every job's files.
    std::string path;
    ASSERT_TRUE(CXJob::GetFileSystemResultPathForJobFromApplicationId("2:17", -5, path).IsSuccess());
    EXPECT_EQ(path, m_instance + "/JobResults/jobs/-5");
    EXPECT_EQ(CXJob::GetFileSystemResultPathForJobFromApplicationId("2-17", 5, path).Code(), KxCode::InvalidParameter);

    WriteFile(Registry("GlobalParams"), "sJobManagerHost\n");
    EXPECT_TRUE(CXJob::GetServerName(path).IsSuccess());
    EXPECT_EQ(path, "localhost") << "an empty setting counts as absent";
    WriteFile(Registry("GlobalParams"), "sJobManagerHost  jm.example  \n");
    EXPECT_TRUE(CXJob::GetServerName(path).IsSuccess());
    EXPECT_EQ(path, "jm.example");

    // A results folder that cannot be created is an error, not a crash.
    WriteFile(m_instance + "/JobResults/3", "a file where a folder goes");
    EXPECT_TRUE(CXJob::GetFileSystemResultPathForSubclient(3, 1, path).IsError());
    ZVPI_Focus::clearFocus();
    EXPECT_EQ(CXJob::GetFileSystemResultPathForSubclient(2, 17, path).Code(), KxCode::InvalidParameter);
    EXPECT_EQ(CXJob::getVantrelTempDirectory(), "");
}

}  // namespace
