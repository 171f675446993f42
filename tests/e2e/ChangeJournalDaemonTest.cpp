// fsjournald on its own: the folders a change journals, the causes that break a journal, and the
// stop, read back through the journal file and the sync answer.
#include "ChangeJournalFixture.h"

#include "Journal/JournalReader.h"
#include "Journal/JournalSyncClient.h"

#include <tuple>

namespace {

using namespace e2e;

class ChangeJournalDaemon : public ChangeJournalFixture {
protected:
    void SetUp() override
    {
        ChangeJournalFixture::SetUp();
        if (IsSkipped())
            return;
        Shell("mkdir -p data/a/sub data/b outside/moved && echo old > data/a/old && echo f > data/a/sub/f");
        Subclient({m_root + "/data"}, true);
    }
    void Shell(const std::string& commands)
    {
        ASSERT_EQ(std::system(("cd '" + m_root + "' && " + commands).c_str()), 0) << commands;
    }
    SJournalSyncPoint Sync()
    {
        SJournalSyncPoint point;
        EXPECT_TRUE(CJournalSyncClient::Sync(m_instance, Results(), 5000, point).IsSuccess());
        return point;
    }
    SJournalSpan Span(uint64_t from, uint64_t to)
    {
        SJournalSpan span;
        CKxError e = CJournalReader::Read(Results() + "/ChangeJournal.jnl", from, to, span);
        EXPECT_TRUE(e.IsSuccess()) << e.AsString();
        return span;
    }
    // The lines of the journal between two sync points: "d <path>" and "l <path>", relative to
    // the scratch root.
    std::set<std::string> Lines(uint64_t from, uint64_t to)
    {
        const SJournalSpan span = Span(from, to);
        std::set<std::string> lines;
        for (const auto& [kind, paths] : {std::pair{"d ", &span.folders}, std::pair{"l ", &span.links}})
            for (const std::string& path : *paths)
                if (path.starts_with(m_root + "/"))  // links are told to every journal of a file system
                    lines.insert(kind + path.substr(m_root.size() + 1));
        return lines;
    }
};

TEST_F(ChangeJournalDaemon, ChangesJournalTheirFoldersUntilTheStop)
{
    ASSERT_TRUE(StartDaemon()) << m_daemonErr;
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
    for (const char* maybe : {"d data/a/sub", "l data/c/solo", "l outside/s2"})
        lines.erase(maybe);
    EXPECT_EQ(lines, (std::set<std::string>{"d data/a", "d data/a/moved", "d data/b", "d data/c"}));

    EXPECT_EQ(StopDaemon(SIGTERM), 0);
    const SJournalSpan span = Span(second.offset, CJournalReader::kToEnd);
    EXPECT_TRUE(span.ended && span.folders.empty() && !span.broken);
    EXPECT_EQ(Sync().state, SJournalSyncPoint::NotRunning);
}

TEST_F(ChangeJournalDaemon, EachBreakIsAnsweredWithItsCauseAndANewSequence)
{
    const struct {
        const char* name;
        std::vector<std::string> env;
        bool stopped;  // the daemon does not read while the changes are made
        const char* changes;
        const char* cause;
        int signal = 0;  // sent after the changes
    } cases[] = {
        {"reload", {}, false, "true", "configuration re-read", SIGHUP},
        {"overflow", {}, true, "mkdir data/many && cd data/many && seq 1 20000 | xargs touch", "event queue overflowed"},
        {"mount", {}, false, "mount -t tmpfs none data/b", "mount table changed"},
        {"root moved", {}, false, "mv data data2 && mkdir data", "content root moved or deleted"},
        // Every folder not resolved before fails: the journal may already be broken at the first sync.
        {"unresolvable", {"FSJOURNALD_TEST_RESOLVE_ERRNO=5"}, false, "mkdir data/a/new && touch data/a/new/x",
         "folder handle could not be resolved: Input/output error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartDaemon(false, c.env)) << m_daemonErr;
        const SJournalSyncPoint before = Sync();
        ASSERT_TRUE(before.state == SJournalSyncPoint::Ok || (!c.env.empty() && before.state == SJournalSyncPoint::Broken));
        if (c.stopped)
            ::kill(DaemonPid(), SIGSTOP);
        Shell(c.changes);
        if (c.stopped)
            ::kill(DaemonPid(), SIGCONT);
        if (c.signal)
            ::kill(DaemonPid(), c.signal);
        const SJournalSyncPoint broken = Sync();
        EXPECT_EQ(std::tie(broken.state, broken.cause, broken.sequence),
                  std::make_tuple(SJournalSyncPoint::Broken, std::string(c.cause), before.sequence + 1));
        const SJournalSpan span = Span(broken.offset, broken.offset);
        EXPECT_EQ(std::tie(span.sequence, span.headerEnd), std::tie(broken.sequence, broken.offset));
        EXPECT_EQ(StopDaemon(SIGTERM), 0);
        Shell("if [ -d data2 ]; then rm -rf data && mv data2 data; fi; if mountpoint -q data/b; then umount data/b; fi");
    }
}

}  // namespace
