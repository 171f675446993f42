#include "Scan/ChangeJournalPlanner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace {

// A journal that may be read: the stored point matches the daemon's answer, the record and the
// content; the journal names /c/d and links /c/l (a file the previous scan knew as (1, 7)).
struct SWorld {
    SChangeJournalPoint stored{"rec", "0123456789abcdef", 2, 100, 1000, "hash", false, false, "",
                               {"/m"}, {{1, 7}}, {}};
    CChangeJournalPlanner::SInput input;
    SJournalSpan span;
    CKxError readError;
    std::uint64_t linkInode = 7;
    std::int64_t linkBorn = 0;
    bool linkFound = true;

    SWorld()
    {
        input.previousRecordPath = "/r/DCInc.zvf";
        input.previousRecord = "rec";
        input.contentHash = "hash";
        input.sync = {SJournalSyncPoint::Ok, "0123456789abcdef", 2, 250, ""};
        input.stored = &stored;
        input.journalPath = "/r/ChangeJournal.jnl";
        span.folders = {"/c/d"};
        span.links = {"/c/l"};
    }
    CChangeJournalPlanner::SDecision Decide()
    {
        return CChangeJournalPlanner::Decide(
            input,
            [this](const std::string&, std::uint64_t from, std::uint64_t to, SJournalSpan& out) {
                EXPECT_EQ(from, 100u);
                EXPECT_EQ(to, 250u);
                out = span;
                return readError;
            },
            [this](const std::string&, std::uint64_t& device, std::uint64_t& inode, std::int64_t& born) {
                device = 1;
                inode = linkInode;
                born = linkBorn;
                return linkFound;
            });
    }
};

struct SCase {
    const char* name;
    std::function<void(SWorld&)> change;
    const char* cause;  // empty: the journal is read
};

TEST(ChangeJournalPlannerTest, EachDoubtWalksAndSaysWhy)
{
    const std::vector<SCase> cases = {
        {"trusted", [](SWorld&) {}, ""},
        {"new file linked", [](SWorld& w) { w.linkInode = 9, w.linkBorn = 1001; }, ""},
        {"database", [](SWorld& w) { w.input.databaseRecord = true; }, "database record"},
        {"job's own", [](SWorld& w) { w.input.jobCause = "no reference time"; }, "no reference time"},
        {"bad answer", [](SWorld& w) { w.input.syncError = "garbage"; }, "answer cannot be used: garbage"},
        {"no daemon",
         [](SWorld& w) { w.input.sync = {SJournalSyncPoint::NotRunning, "", 0, 0, "no socket"}; },
         "daemon is not running (no socket)"},
        {"no journal", [](SWorld& w) { w.input.sync.state = SJournalSyncPoint::Unknown; }, "keeps no journal"},
        {"rotated",
         [](SWorld& w) { w.input.sync = {SJournalSyncPoint::Broken, "0123456789abcdef", 3, 60, "mount table changed"}; },
         "broken: mount table changed"},
        {"no record", [](SWorld& w) { w.input.previousRecord.clear(); }, "previous record [/r/DCInc.zvf]"},
        {"no point", [](SWorld& w) { w.input.stored = nullptr; }, "no journal point"},
        {"walked without daemon", [](SWorld& w) { w.stored.runId.clear(); }, "no journal point"},
        {"restarted", [](SWorld& w) { w.input.sync.runId = "fedcba9876543210"; }, "identity changed"},
        {"next sequence", [](SWorld& w) { w.input.sync.sequence = 3; }, "identity changed"},
        {"reconfigured", [](SWorld& w) { w.input.contentHash = "other"; }, "content or filters changed"},
        {"shorter", [](SWorld& w) { w.input.sync.offset = 99; }, "damaged"},
        {"damaged", [](SWorld& w) { w.readError = CKxError(13, "bad line 4"); }, "damaged: bad line 4"},
        {"broken line", [](SWorld& w) { w.span.broken = true, w.span.brokenCause = "event queue overflowed"; },
         "broken: event queue overflowed"},
        {"ended", [](SWorld& w) { w.span.ended = true; }, "stopped"},
        {"old file linked", [](SWorld& w) { w.linkInode = 9, w.linkBorn = 1000; }, "new link [/c/l]"},
        {"linked name gone", [](SWorld& w) { w.linkInode = 9, w.linkFound = false; }, ""},
    };
    for (const SCase& c : cases) {
        SWorld world;
        c.change(world);
        const CChangeJournalPlanner::SDecision decision = world.Decide();
        EXPECT_EQ(decision.walk, *c.cause != '\0') << c.name;
        EXPECT_NE(decision.cause.find(c.cause), std::string::npos) << c.name << ": " << decision.cause;
        if (!decision.walk) {
            EXPECT_EQ(decision.folders, std::vector<std::string>{"/c/d"}) << c.name;
        }
    }
}

TEST(ChangeJournalPlannerTest, PointsKeepTheOlderPositionOfAnIdenticalRecord)
{
    const std::string path = ::testing::TempDir() + "/points-" + std::to_string(::getpid());
    std::filesystem::remove(path);
    SChangeJournalPoint first{"rec", "0123456789abcdef", 1, 100, 10, "h", true, false, "", {"/a b"}, {{1, 2}}, {}};
    ASSERT_TRUE(CChangeJournalPoints::Store(path, first).IsSuccess());
    SChangeJournalPoint same = first;
    same.offset = 300, same.journal = false, same.cause = "why\nnot", same.multiLinkFolders = {"/c"};
    ASSERT_TRUE(CChangeJournalPoints::Store(path, same).IsSuccess());
    for (size_t other = 0; other < CChangeJournalPoints::kPointsKept; ++other) {
        SChangeJournalPoint newer;
        newer.record = "r" + std::to_string(other);
        ASSERT_TRUE(CChangeJournalPoints::Store(path, newer).IsSuccess());
    }
    std::vector<SChangeJournalPoint> points;
    ASSERT_TRUE(CChangeJournalPoints::Load(path, points).IsSuccess());
    EXPECT_EQ(points.size(), CChangeJournalPoints::kPointsKept);
    EXPECT_EQ(CChangeJournalPoints::Find(points, "rec"), nullptr);  // the oldest went

    std::filesystem::remove(path);
    ASSERT_TRUE(CChangeJournalPoints::Store(path, first).IsSuccess());
    ASSERT_TRUE(CChangeJournalPoints::Store(path, same).IsSuccess());
    ASSERT_TRUE(CChangeJournalPoints::Load(path, points).IsSuccess());
    const SChangeJournalPoint* kept = CChangeJournalPoints::Find(points, "rec");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->offset, 100u);
    EXPECT_EQ(kept->cause, "why\nnot");
    EXPECT_EQ(kept->multiLinkFolders, (std::vector<std::string>{"/a b", "/c"}));

    std::ofstream(path, std::ios::app) << "x stray\n";
    const CKxError damaged = CChangeJournalPoints::Load(path, points);
    EXPECT_EQ(damaged.Code(), 13);
    EXPECT_NE(damaged.Message().find("line 6"), std::string::npos) << damaged.Message();
    std::filesystem::remove(path);
}

}  // namespace
