// Proxy-client jobs end to end: the real fsweep opens the real plug-in, which starts a client
// (the real fsproxyclient, or a bash script speaking just enough of the wire to misbehave) and
// waits for it.
#include "ScanJobFixture.h"

namespace e2e {
namespace {

class ProxyClientTest : public ScanJobFixture {
protected:
    // An application of type 38 whose client is scanned through the proxy; `launch` as JSON,
    // further members of the proxy and subclient objects.
    void ProxySubclient(const std::string& root, const std::string& launch = "", const std::string& proxyMore = "",
                        const std::string& subclientMore = "")
    {
        WriteSubclient(R"("proxy": {"host": "127.0.0.1", "root": )" + nlohmann::json(root).dump() +
                           (launch.empty() ? "" : ", \"launch\": " + launch) + proxyMore + "}" + subclientMore,
                       {.appType = 38, .client = R"("id": 2, "name": "client1", "proxyClientId": 7)"});
    }
    // A client in bash: connects, says hello, then runs `then`.
    static std::string ScriptClient(const std::string& then)
    {
        const std::string script =
            "while [ $# -gt 1 ]; do case $1 in --connect) c=$2;; --session) s=$2;; esac; shift 2; done; "
            "exec 3<>/dev/tcp/${c%:*}/${c##*:}; printf 'H\\x20\\x00\\x00\\x00%s' \"$s\" >&3; " + then;
        return List({"/bin/bash", "-c", script, "client"});
    }
};

TEST_F(ProxyClientTest, ClientStreamsItemsAndFailures)
{
    const std::string data = m_tree + "/client";
    for (const char* name : {"a.txt", "b.txt", "c.txt", "locked.txt"})
        WriteText(data + "/" + name, name);
    // Unreadable to the client's user: root's own file when the tests run as root (the job runs
    // as nobody), else a file without read permission.
    ::chmod((data + "/locked.txt").c_str(), m_asRoot ? 0600 : 0000);
    ProxySubclient(data);
    RunResult scan = Scan();
    ASSERT_EQ(scan.status, 0) << scan.err;
    ExpectPhaseCompleted();
    EXPECT_EQ(Keys(Listed()), (std::set<std::string>{data + "/a.txt", data + "/b.txt", data + "/c.txt"}));
    EXPECT_EQ(Calls("addScanFileFailures").at(0).value("count", 0), 1);
    const std::string failure = "ScanFailure: Failed to Scan " + data + "/locked.txt due to error[13]";
    EXPECT_NE(Log().find(failure), std::string::npos);
    EXPECT_NE(Read(m_instance + "/JobResults/jobs/1/BackupResults.zvf").find("items 3\nfailures 1\n"), std::string::npos);
}

// A non-full job takes what changed after its reference time, by the subclient's time rules;
// with both rules off, the modification time decides.
TEST_F(ProxyClientTest, IncrementalTakesChangesByTheTimeRules)
{
    const std::string data = m_tree + "/client";
    WriteText(data + "/old.txt", "old");
    NextSecond();
    const std::string reference = std::to_string(std::time(nullptr));
    NextSecond();
    WriteText(data + "/new.txt", "new");
    WriteText(data + "/old-mtime.txt", "changed, its modification time set back");
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (data + "/old-mtime.txt").c_str(), times, 0), 0);
    for (const auto& [rules, listed] : std::vector<std::pair<const char*, std::set<std::string>>>{
             {"", {data + "/new.txt", data + "/old-mtime.txt"}},
             {R"(, "useMtime": false, "useCtime": false)", {data + "/new.txt"}}}) {
        SCOPED_TRACE(rules);
        ForgetJournal(2);
        ProxySubclient(data, "", "", rules);
        RunResult scan = ScanJob(2, 2, {"-ref", reference});
        ASSERT_EQ(scan.status, 0) << scan.err;
        ExpectPhaseCompleted(2);
        EXPECT_EQ(Keys(ListedIn("CollectInc")), listed);
    }
}

// The backup-date state file is made once: an existing one is left as it is.
TEST_F(ProxyClientTest, BackupDateStateFileIsMadeOnceAndAMissingPluginFailsUnlessNoScanIsNeeded)
{
    const std::string state = m_instance + "/ProxyState/127.0.0.1/BackupAttFlag.zvf";
    const std::int64_t started = std::time(nullptr);
    for (const bool existing : {true, false}) {
        SCOPED_TRACE(existing ? "existing" : "new");
        ForgetJournal();
        fs::remove(state);
        if (existing)
            WriteText(state, "123");
        ProxySubclient(m_tree, "", R"(, "setBackupDate": true)");
        RunResult scan = Scan();
        ASSERT_EQ(scan.status, 0) << scan.err;
        ExpectPhaseCompleted();
        const std::string text = Read(state);
        if (existing)
            EXPECT_EQ(text, "123");
        else
            EXPECT_GE(std::atoll(text.c_str()), started) << text;
    }

    // fsweep loads libFileScan from LD_LIBRARY_PATH before its own run path: a copy in a folder
    // without the plug-in.
    const std::string lib = m_root + "/lib";
    fs::create_directories(lib);
    fs::copy_file(Binary("libFileScan.so"), lib + "/libFileScan.so");
    for (const bool disasterRecovery : {false, true}) {
        SCOPED_TRACE(disasterRecovery ? "disaster-recovery copy" : "ordinary backup");
        ForgetJournal();
        ProxySubclient(m_tree, "", disasterRecovery ? R"(, "vtlDisasterRecovery": true)" : "");
        RunResult scan = Run(Binary("fsweep"), JobArgs(1, 1), true, false, {"LD_LIBRARY_PATH=" + lib});
        ASSERT_EQ(scan.status, 0) << scan.err;
        const std::string missing = "libClProxy.so: " + lib + "/libClProxy.so: cannot open shared object file";
        if (disasterRecovery)
            ExpectPhaseCompleted();
        else
            EXPECT_NE(FailedPhase().find(missing), std::string::npos) << FailedPhase();
    }
}

TEST_F(ProxyClientTest, ClientFailuresFailThePhaseWithTheirReason)
{
    const std::string client = Binary("fsproxyclient");
    const std::string quitFile = m_instance + "/JobManager/1.quit";
    // What, the client's launch, the reason in the phase's failure message ("": no failure, the job
    // quit), the seconds of silence allowed.
    const std::vector<std::tuple<const char*, std::string, const char*, int>> cases = {
        {"an error", List({client, "--fail", "disk offline"}), "Client reported: disk offline", 60},
        {"a failure without a message", List({client, "--fail", ""}),
         "Client reported a failure. Check client's scan log for more details.", 60},
        {"exits before it connects", List({"/bin/sh", "-c", "exit 3"}),
         "The client never connected: the client process exited with status 3", 60},
        {"killed mid-stream", ScriptClient("printf 'I\\x40\\x00\\x00\\x00abc' >&3; kill -9 $$"),
         "The client closed the connection before the scan ended: the client process was killed by signal 9", 60},
        {"silent past the timeout", ScriptClient("sleep 30"), "No word from the client for 1 s", 1},
        {"the job quits while it waits", ScriptClient("touch " + quitFile + "; sleep 30"), "", 60},
    };
    for (const auto& [what, launch, reason, timeout] : cases) {
        SCOPED_TRACE(what);
        ForgetJournal();
        fs::remove(quitFile);
        Settings("nProxyClientTimeout " + std::to_string(timeout) + "\n");
        ProxySubclient(m_tree, launch);
        RunResult scan = Scan();
        ASSERT_EQ(scan.status, 0) << scan.err;
        if (*reason) {
            EXPECT_NE(FailedPhase().find(reason), std::string::npos) << FailedPhase();
        } else {
            EXPECT_TRUE(Calls("complete").empty());
            EXPECT_NE(Log().find("Job is suspended or killed."), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace e2e
