// `fsweep why` after a full and an incremental job: every reason it gives, for a tree with a
// filter and its exception, an unchanged, a changed and a moved-in file, a folder the scan cannot
// read, a file the backup phase could not read, a path outside the content and one that does not
// exist.
#include "ScanJobFixture.h"

namespace {

using namespace e2e;

class WhyTest : public ScanJobFixture {
protected:
    RunResult Why(const std::vector<std::string>& extra, const std::vector<std::string>& paths)
    {
        std::vector<std::string> args = {"why", "-vm", m_vm, "-a", "2:5"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), paths.begin(), paths.end());
        return Run(Binary("fsweep"), args, false);
    }
    // Asks about every path of `expected` at once and checks each answer line holds its text.
    void ExpectAnswers(const std::vector<std::string>& extra,
                       const std::vector<std::pair<std::string, std::string>>& expected)
    {
        std::vector<std::string> paths;
        for (const auto& [path, text] : expected)
            paths.push_back(path);
        RunResult run = Why(extra, paths);
        ASSERT_EQ(run.status, 0) << run.err;
        std::istringstream lines(run.out);
        for (const auto& [path, text] : expected) {
            std::string line;
            ASSERT_TRUE(std::getline(lines, line)) << run.out;
            EXPECT_EQ(line.rfind(path + ": ", 0), 0u) << line;
            EXPECT_NE(line.find(text), std::string::npos) << "expected [" << text << "] in: " << line;
        }
    }
};

TEST_F(WhyTest, AnswersEachReasonAfterAFullAndAnIncremental)
{
    const std::string t = m_tree;
    fs::create_directories(t + "/skip");
    for (const char* name : {"/unchanged.txt", "/changed.txt", "/fail.txt", "/skip/out.txt", "/skip/in.txt"})
        WriteText(t + name, "v1");
    WriteText(m_root + "/moved.txt", "old");
    MakeUnreadable(t + "/locked");  // every walk fails on it
    Content({t}, "\"filters\": " + List({t + "/skip"}) + ", \"filterExceptions\": " + List({t + "/skip/in.txt"}));
    Settings("sBackupPhaseFailPattern *fail.txt\n");

    Job(1, 1);
    NextSecond();
    WriteText(t + "/changed.txt", "v2");
    WriteText(t + "/fail.txt", "v2");
    fs::rename(m_root + "/moved.txt", t + "/moved.txt");
    Backdate(t + "/moved.txt");

    // What the next incremental will do, and why.
    ExpectAnswers({}, {{t + "/unchanged.txt", "unchanged since the reference time"},
                       {t + "/changed.txt", "changed (modification time)"},
                       {t + "/moved.txt", "new to the record"},
                       {t + "/skip/out.txt", "excluded by filter \"" + t + "/skip\""},
                       {t + "/skip/in.txt", "does not apply: exception \"" + t + "/skip/in.txt\""},
                       {m_root + "/elsewhere", "does not exist"},
                       {m_instance + "/registry/FileSystemAgent", "outside the content"}});

    Job(2, 2);
    ExpectAnswers({"-j", "2"}, {{t + "/changed.txt", "listed in job 2's collect file number 1"},
                                {t + "/moved.txt", "listed in job 2's collect file number 1"},
                                {t + "/fail.txt", "failed in job 2 with error 5"},
                                {t + "/locked", "failed in job 2's scan with error 13"},
                                {t + "/unchanged.txt", "job 2 did not list it"},
                                {t + "/skip/out.txt", "excluded by filter"}});
    EXPECT_EQ(Why({}, {}).status, 2);  // no path
}
}  // namespace
