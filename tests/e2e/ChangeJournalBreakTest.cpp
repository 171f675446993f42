// Each way a change journal stops being trustworthy, forced between two incrementals: the next
// incremental walks the content, logs the cause, and still finds the change made meanwhile; left
// unbroken, it reads the journal.
//
//   ctest --test-dir build -R ChangeJournalBreak
#include "ChangeJournalFixture.h"

#include <sys/mount.h>

#include <functional>

namespace {

using namespace e2e;

class ChangeJournalBreak;

struct SBreak {
    const char* name;
    std::function<void(ChangeJournalBreak&)> make;  // between the second and the third job
    const char* cause;                              // what the third job's walking line says; null: it reads
    bool daemonAsScanUser = false;
    std::vector<std::string> daemonEnv = {};
    int thirdType = 2;  // a differential (4) compares with the full's record
};
void PrintTo(const SBreak& cause, std::ostream* out) { *out << cause.name; }

class ChangeJournalBreak : public ChangeJournalFixture, public ::testing::WithParamInterface<SBreak> {
public:
    using ChangeJournalFixture::StartDaemon;
    using ChangeJournalFixture::StopDaemon;
    using ChangeJournalFixture::Subclient;
    using ScanJobFixture::m_data;
    using ScanJobFixture::m_tree;
    void TearDown() override
    {
        ::umount2((m_data + "/mnt").c_str(), MNT_DETACH);  // where a case mounted
        ChangeJournalFixture::TearDown();
    }
    void Flood()
    {
        // More events than the queue holds (16384), made outside the content on its file system.
        ::kill(DaemonPid(), SIGSTOP);
        const std::string flood = m_tree + "/flood";
        fs::create_directories(flood);
        for (int file = 0; file < 20000; ++file)
            ::close(::open((flood + "/" + std::to_string(file)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ::kill(DaemonPid(), SIGCONT);
    }
    void Mount() { ASSERT_EQ(::mount("fsweep-test", (m_data + "/mnt").c_str(), "tmpfs", 0, "size=1m"), 0); }
    void Damage(const std::string& record)
    {
        std::string text = Read(Results() + "/" + record);
        ASSERT_GT(text.size(), 100u);
        text[text.size() / 2] ^= 0x01;
        std::ofstream(Results() + "/" + record, std::ios::binary | std::ios::trunc) << text;
    }
};

TEST_P(ChangeJournalBreak, TheNextIncrementalWalksAndSaysWhy)
{
    for (const char* file : {"/a/one", "/a/b/two", "/c/three"})
        WriteText(m_data + file, "v1");
    for (const std::string& folder : {m_data + "/mnt", m_tree + "/other"})
        fs::create_directories(folder);
    Subclient({m_data}, true);
    const bool unpermitted = GetParam().daemonAsScanUser;
    const bool ready = StartDaemon(unpermitted, GetParam().daemonEnv);
    if (unpermitted) {  // one line, and nothing on standard output
        ASSERT_FALSE(ready);
        EXPECT_EQ(m_daemonErr, "fsjournald: fanotify is not permitted (needs CAP_SYS_ADMIN): change journals are off, "
                               "scans walk\n");
        EXPECT_EQ(Read(m_instance + ".daemon.out"), "");
    } else if (!ready) {
        GTEST_SKIP() << "fanotify is not permitted here: " << m_daemonErr;
    }

    NextSecond();
    Job(1, 1);
    WriteText(m_data + "/a/one", "v2");
    NextSecond();
    Job(2, 2, ReferenceOf(1));
    GetParam().make(*this);
    WriteText(m_data + "/c/after", "new");
    NextSecond();
    const int type = GetParam().thirdType;
    const SJob third = Job(3, type, ReferenceOf(type == 4 ? 1 : 2));
    if (GetParam().cause)
        EXPECT_TRUE(third.Walked() && third.journal.find(GetParam().cause) != std::string::npos)
            << "logged: Change journal: " << third.journal;
    else
        EXPECT_FALSE(third.Walked() && !third.WalkedForLinkOutside(m_tree)) << "logged: Change journal: " << third.journal;
    EXPECT_TRUE(third.items.contains(m_data + "/c/after"));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, ChangeJournalBreak,
    ::testing::Values(
        SBreak{"Unbroken", [](ChangeJournalBreak&) {}, nullptr},
        SBreak{"KilledAndRestarted",
               [](ChangeJournalBreak& t) { t.StopDaemon(SIGKILL); ASSERT_TRUE(t.StartDaemon()); }, "identity"},
        SBreak{"Stopped", [](ChangeJournalBreak& t) { EXPECT_EQ(t.StopDaemon(SIGTERM), 0); }, "not running"},
        SBreak{"QueueOverflowed", [](ChangeJournalBreak& t) { t.Flood(); }, "overflow"},
        SBreak{"MountUnderTheContent", [](ChangeJournalBreak& t) { t.Mount(); }, "mount table changed"},
        SBreak{"ContentChanged", [](ChangeJournalBreak& t) { t.Subclient({t.m_data, t.m_tree + "/other"}, true); },
               "content or filters changed"},
        SBreak{"FiltersChanged", [](ChangeJournalBreak& t) { t.Subclient({t.m_data}, true, R"("filters": ["*.tmp"])"); },
               "content or filters changed"},
        SBreak{"IncrementalRecordDamaged", [](ChangeJournalBreak& t) { t.Damage("DCInc.zvf"); }, "missing or unusable"},
        SBreak{"FullRecordDamaged", [](ChangeJournalBreak& t) { t.Damage("DCTot.zvf"); }, "missing or unusable", false, {},
               4},
        // The daemon's test hook: every folder handle not resolved before fails with EIO.
        SBreak{"FolderHandleUnresolvable", [](ChangeJournalBreak&) {}, "folder handle could not be resolved", false,
               {"FSJOURNALD_TEST_RESOLVE_ERRNO=5"}},
        SBreak{"NotPermitted", [](ChangeJournalBreak&) {}, "not running", true}),
    [](const ::testing::TestParamInfo<SBreak>& info) { return std::string(info.param.name); });

}  // namespace
