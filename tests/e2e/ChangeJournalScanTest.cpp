// A journal incremental reads only the folders that changed and keeps the records of the rest:
// two rounds of changes on twin instances (A reads its journal, B walks), the second in a folder
// the first round kept, must select the same items and report the same deletions; `fsweep why`
// then says how A's last incremental found its items.
//
//   ctest --test-dir build -R ChangeJournalScan
#include "ChangeJournalFixture.h"

#include <functional>

namespace {

using namespace e2e;

class ChangeJournalScan : public ChangeJournalFixture {};

TEST_F(ChangeJournalScan, ReadsChangedFoldersKeepsTheRestAndMatchesTheWalk)
{
    const std::string data = m_tree + "/data";
    for (const char* folder : {"/a/deep", "/b", "/c", "/kept/below"})
        fs::create_directories(data + folder);
    for (const char* file : {"/a/x", "/a/deep/y", "/b/z", "/c/w", "/kept/v", "/kept/below/u"})
        WriteText(data + file, "v1");
    ::link((data + "/b/z").c_str(), (data + "/c/z2").c_str());
    Use("B");
    Subclient({data}, false);
    Use("A");
    Subclient({data}, true);
    const EDaemon daemon = StartDaemon();
    if (daemon == EDaemon::Missing)
        GTEST_SKIP() << "fsjournald is not built";
    if (daemon == EDaemon::Refused)
        GTEST_SKIP() << "fanotify is not permitted here: " << m_daemonErr;

    const std::vector<std::function<void()>> rounds = {
        [&] {
            WriteText(data + "/a/deep/y", "v2");
            WriteText(data + "/b/new", "new");
            fs::remove(data + "/c/w");
            fs::rename(data + "/a/x", data + "/b/x");
        },
        [&] {
            WriteText(data + "/kept/below/u", "v2");  // a folder the first round did not read
            WriteText(data + "/c/z2", "through the other name");
            fs::remove_all(data + "/a/deep");
        },
    };
    NextSecond();
    for (const std::string twin : {"A", "B"}) {
        Use(twin);
        Job(1, 1);
    }
    for (size_t round = 0; round < rounds.size(); ++round) {
        rounds[round]();
        NextSecond();
        const int jobId = static_cast<int>(round) + 2;
        std::map<std::string, SJob> jobs;
        for (const std::string twin : {"A", "B"}) {
            Use(twin);
            jobs[twin] = Job(jobId, 2, ReferenceOf(jobId - 1));
        }
        EXPECT_FALSE(jobs["A"].Walked()) << jobs["A"].journal;
        EXPECT_TRUE(jobs["B"].journal.empty()) << jobs["B"].journal;
        EXPECT_EQ(jobs["A"].items, jobs["B"].items) << "round " << round;
        EXPECT_EQ(jobs["A"].deletions, jobs["B"].deletions) << "round " << round;
        EXPECT_TRUE(jobs["A"].items.contains(data + (round == 0 ? "/a/deep/y" : "/kept/below/u")));
    }
    Use("A");
    const RunResult why = Run(Binary("fsweep"), {"why", "-vm", "A", "-a", "2:5", data + "/kept/v"}, false);
    EXPECT_NE(why.out.find("; the last incremental found its items by the journal"), std::string::npos) << why.out;
}

}  // namespace
