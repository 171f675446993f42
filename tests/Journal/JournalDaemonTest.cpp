// fsjournald end to end on a scratch instance: the folders a change journals, the causes that
// break a journal, and the stop (its refusal without the privilege is an end-to-end case). Root
// only: fanotify file-system marks need CAP_SYS_ADMIN.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Base/FXPath.h"
#include "Journal/JournalReader.h"
#include "Journal/JournalSyncClient.h"
#include "Base/ScratchFolderTest.h"

namespace {

const std::string kDaemon = FSWEEP_BINARY_DIR "/src/fsjournald";

class JournalDaemonTest : public ScratchFolderTest {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "fanotify file-system marks need root";
        ScratchFolderTest::SetUp();
        m_instance = FXPath::Append(m_dir, "inst");
        m_data = FXPath::Append(m_dir, "data");
        m_results = FXPath::Append(m_instance, "JobResults/2/5");
        Shell("chmod 755 . && mkdir -p inst/config/apps inst/run inst/tmp inst/JobManager inst/Log_Files data/a/sub"
              " data/b outside/moved && echo old > data/a/old && echo f > data/a/sub/f");
        std::ofstream(FXPath::Append(m_instance, "config/apps/2:5.json"))
            << R"({"appType": 29, "subclient": {"content": [")" + m_data + R"("], "changeJournal": true}})";
    }
    void TearDown() override
    {
        if (m_pid > 0)
            StopDaemon(SIGKILL);
        if (!m_dir.empty())
            ScratchFolderTest::TearDown();
    }

    void Shell(const std::string& commands)
    {
        ASSERT_EQ(std::system(("cd '" + m_dir + "' && " + commands).c_str()), 0) << commands;
    }

    // Starts the daemon with `env` (NAME=value) added to its environment and waits until it is ready.
    void StartDaemon(const std::string& env)
    {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::setenv("FSWEEP_ROOT", m_dir.c_str(), 1);
            if (!env.empty())
                ::putenv(const_cast<char*>(env.c_str()));
            ::execl(kDaemon.c_str(), kDaemon.c_str(), "-vm", "inst", nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        std::string said;
        char buffer[64];
        pollfd ready{out[0], POLLIN, 0};
        for (ssize_t n = 1; n > 0 && said.find('\n') == std::string::npos && ::poll(&ready, 1, 20000) > 0;)
            if ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
                said.append(buffer, static_cast<size_t>(n));
        ::close(out[0]);
        ASSERT_EQ(said, "fsjournald: ready\n");
    }
    int StopDaemon(int signal = SIGTERM)
    {
        int status = -1;
        ::kill(m_pid, signal);
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

    SJournalSyncPoint Sync()
    {
        SJournalSyncPoint point;
        EXPECT_TRUE(CJournalSyncClient::Sync(m_instance, m_results, 5000, point).IsSuccess());
        return point;
    }
    SJournalSpan Span(uint64_t from, uint64_t to)
    {
        SJournalSpan span;
        CKxError e = CJournalReader::Read(FXPath::Append(m_results, "ChangeJournal.jnl"), from, to, span);
        EXPECT_TRUE(e.IsSuccess()) << e.AsString();
        return span;
    }
    // The lines of the journal between two sync points: "d <path>" and "l <path>", relative to m_dir.
    std::set<std::string> Lines(uint64_t from, uint64_t to)
    {
        const SJournalSpan span = Span(from, to);
        std::set<std::string> lines;
        for (const auto& [kind, paths] : {std::pair{"d ", &span.folders}, std::pair{"l ", &span.links}})
            for (const std::string& path : *paths)
                if (path.starts_with(m_dir + "/"))  // links are told to every journal of a file system
                    lines.insert(kind + path.substr(m_dir.size() + 1));
        return lines;
    }

    std::string m_instance, m_data, m_results;
    pid_t m_pid = -1;
};

TEST_F(JournalDaemonTest, ChangesJournalTheirFoldersUntilTheStop)
{
    StartDaemon("");
    const SJournalSyncPoint start = Sync();
    ASSERT_EQ(start.state, SJournalSyncPoint::Ok) << start.cause;
    EXPECT_EQ(Lines(0, start.offset), std::set<std::string>{});

    // A mount outside the content breaks nothing.
    Shell("mount -t tmpfs none outside/moved && umount outside/moved");
    Shell("echo new > data/a/new && echo more >> data/a/old && chmod 600 data/b && mkdir data/b/made"
          " && touch data/a/sub/f && chmod 700 data/a/sub && mv data/a/old data/b/renamed && ln data/b/renamed data/a/link"
          " && rm data/a/new && echo outside > outside/x && mv outside/moved data/b/ && touch data/b/moved/y"
          " && echo k > data/b/keep && ln data/b/keep outside/k2 && mkdir data/c && echo s > data/c/solo");
    const SJournalSyncPoint first = Sync();
    ASSERT_EQ(first.state, SJournalSyncPoint::Ok) << first.cause;
    EXPECT_EQ(first.runId, start.runId);
    // A name made is told by one path of its file, whichever the kernel gives, inside the content
    // or outside it.
    std::set<std::string> lines = Lines(start.offset, first.offset);
    EXPECT_EQ(lines.erase("l data/b/keep") + lines.erase("l outside/k2"), 1u);
    EXPECT_EQ(lines.erase("l data/a/link") + lines.erase("l data/b/renamed"), 1u);
    EXPECT_EQ(lines, (std::set<std::string>{"d data", "d data/a", "d data/a/sub", "d data/b", "d data/b/moved",
                                            "d data/c"}));

    // A folder moved after its path was known is journaled under its new path; a folder removed
    // with its files is journaled where it was held (its own line only if it was still there
    // when the daemon read the events).
    // A name made and removed again outside the content moves the change time of the file's one
    // name inside: its folder is journaled.
    Shell("mv data/b/moved data/a/ && touch data/a/moved/x && chmod 711 data/b/made && rm -rf data/a/sub"
          " && ln data/c/solo outside/s2 && rm outside/s2");
    const SJournalSyncPoint second = Sync();
    ASSERT_EQ(second.state, SJournalSyncPoint::Ok) << second.cause;
    lines = Lines(first.offset, second.offset);
    lines.erase("d data/a/sub");
    lines.erase("l data/c/solo");
    lines.erase("l outside/s2");
    EXPECT_EQ(lines, (std::set<std::string>{"d data/a", "d data/a/moved", "d data/b", "d data/c"}));

    EXPECT_EQ(StopDaemon(), 0);
    const SJournalSpan span = Span(second.offset, CJournalReader::kToEnd);
    EXPECT_TRUE(span.ended && span.folders.empty() && !span.broken);
    EXPECT_EQ(Sync().state, SJournalSyncPoint::NotRunning);
}

TEST_F(JournalDaemonTest, EachBreakIsAnsweredWithItsCauseAndANewSequence)
{
    const struct {
        const char* name;
        const char* env;
        bool stopped;  // the daemon does not read while the changes are made
        const char* changes;
        const char* cause;
        int signal = 0;  // sent after the changes
    } cases[] = {
        {"reload", "", false, "true", "configuration re-read", SIGHUP},
        {"overflow", "", true, "mkdir data/many && cd data/many && seq 1 20000 | xargs touch", "event queue overflowed"},
        {"mount", "", false, "mount -t tmpfs none data/b", "mount table changed"},
        {"root moved", "", false, "mv data data2 && mkdir data", "content root moved or deleted"},
        // Every folder not resolved before fails: the journal may already be broken at the first sync.
        {"unresolvable", "FSJOURNALD_TEST_RESOLVE_ERRNO=5", false, "mkdir data/a/new && touch data/a/new/x",
         "folder handle could not be resolved: Input/output error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartDaemon(c.env);
        const SJournalSyncPoint before = Sync();
        ASSERT_TRUE(before.state == SJournalSyncPoint::Ok || (c.env[0] && before.state == SJournalSyncPoint::Broken));
        if (c.stopped)
            ::kill(m_pid, SIGSTOP);
        Shell(c.changes);
        if (c.stopped)
            ::kill(m_pid, SIGCONT);
        if (c.signal)
            ::kill(m_pid, c.signal);
        const SJournalSyncPoint broken = Sync();
        EXPECT_EQ(broken.state, SJournalSyncPoint::Broken);
        EXPECT_EQ(broken.cause, c.cause);
        EXPECT_EQ(broken.sequence, before.sequence + 1);
        const SJournalSpan span = Span(broken.offset, broken.offset);
        EXPECT_EQ(span.sequence, broken.sequence);
        EXPECT_EQ(span.headerEnd, broken.offset);
        EXPECT_EQ(StopDaemon(), 0);
        Shell("if [ -d data2 ]; then rm -rf data && mv data2 data; fi; if mountpoint -q data/b; then umount data/b; fi");
    }
}

}  // namespace
