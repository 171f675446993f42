// What a crash or a damaged file must never cost: the outputs of a scan and of its backup phase
// are on disk before the journal reports the outcome (seen through strace), a collect file cut
// after the scan fails the backup phase and its items come with the next incremental, and an
// unusable previous record makes the next incremental take every item and tell the job manager.
#include "ScanJobFixture.h"

#include "Scan/IncrementalDirChange.h"

namespace {

using namespace e2e;

class DurabilityTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        for (int i = 0; i < 20; ++i)
            WriteText(m_data + "/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt", "v1");
        Content({m_data});
    }

    // A file moved in from elsewhere, keeping its 2001 modification time.
    void MoveIn(const std::string& name)
    {
        WriteText(m_data + "/" + name, "old");
        Backdate(m_data + "/" + name);
    }
    std::vector<std::string> Traced(const std::string& binary, const std::vector<std::string>& args)
    {
        const std::string trace = m_root + "/trace.txt";
        // LeakSanitizer cannot work under a tracer: a sanitizer build's leak check stays off here.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string asanOptions = "ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") + "detect_leaks=0";
        std::vector<std::string> command = {"-f", "-y", "-qq", "-E", asanOptions,
                                            "-e", "trace=fsync,fdatasync,write,rename", "-o", trace, binary};
        command.insert(command.end(), args.begin(), args.end());
        RunResult run = Run("/usr/bin/strace", command, false);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        return Lines(trace);
    }
    // The index of the first traced line holding all of `parts`, or npos.
    static size_t Find(const std::vector<std::string>& trace, const std::vector<std::string>& parts)
    {
        auto holds = [&](const std::string& line) {
            return std::all_of(parts.begin(), parts.end(), [&](auto& part) { return line.find(part) != line.npos; });
        };
        const auto found = std::find_if(trace.begin(), trace.end(), holds);
        return found == trace.end() ? std::string::npos : static_cast<size_t>(found - trace.begin());
    }

};

TEST_F(DurabilityTest, OutputsAreOnDiskBeforeTheOutcomeIsJournaled)
{
    if (!fs::exists("/usr/bin/strace"))
        GTEST_SKIP() << "strace is not installed";
    const std::string journal = m_instance + "/JobManager/1.jsonl>";
    const std::vector<std::string> scan = Traced(Binary("fsweep"), JobArgs(1, 1));
    const size_t complete = Find(scan, {"write(", journal, "\\\"call\\\":\\\"complete\\\""});
    ASSERT_NE(complete, std::string::npos);
    std::vector<std::string> outputs = {"DCTmp.zvf", "split_config", "CollectEvidenceTot.zvf", "scan_Failures.zvf"};
    for (const std::string& file : CollectFiles())
        outputs.push_back(fs::path(file).filename().string());
    for (const std::string& name : outputs) {
        SCOPED_TRACE(name);
        EXPECT_LT(Find(scan, {"fdatasync(", Results() + "/" + name + ">"}), complete);
    }
    for (const std::string& folder : {Results(), Results() + "/..", m_instance + "/JobResults/jobs/1"})
        EXPECT_LT(Find(scan, {"fsync(", fs::weakly_canonical(folder).string() + ">"}), complete) << folder;
    EXPECT_GT(Find(scan, {"fdatasync(", journal}), complete);

    const std::vector<std::string> backup =
        Traced(Binary("fsbackup"), {"-vm", "inst", "-j", "1", "-a", "2:5", "-t", "1"});
    const size_t phase = Find(backup, {"write(", journal, "backupPhase"});
    ASSERT_NE(phase, std::string::npos);
    EXPECT_LT(Find(backup, {"fdatasync(", "DCInc.zvf.fsbackup"}), Find(backup, {"rename(", "DCInc.zvf\")"}));
    const size_t renamed = Find(backup, {"rename(", "DCTmp.zvf", "DCTot.zvf"});
    const size_t folderSynced = Find(backup, {"fsync(", Results() + ">"});
    EXPECT_LT(renamed, folderSynced);
    EXPECT_LT(folderSynced, phase);
    EXPECT_GT(Find(backup, {"fdatasync(", journal}), phase);
}

TEST_F(DurabilityTest, CollectFileCutAfterTheScanFailsThePhaseAndItsItemsComeWithTheNextIncremental)
{
    Job(1, 1);
    const std::int64_t fullReference = ReferenceOf(1);
    for (int i = 0; i < 6; ++i)
        MoveIn("moved" + std::to_string(i) + ".txt");
    Scanned(2, 2, fullReference);
    const std::string record = Read(Results() + "/DCInc.zvf");

    // The machine stopped before the last pages reached the disk: the file ends at a line boundary,
    // three items before the results-folder lines that end it.
    const std::string collect = Results() + "/CollectInc1.zvf";
    std::vector<std::string> lines = Lines(collect);
    size_t items = lines.size();
    while (items > 0 && lines[items - 1].starts_with("%SCFILES%"))
        --items;
    ASSERT_GT(items, 4u);
    std::set<std::string> cut;
    for (size_t i = items - 3; i < items; ++i) {
        std::string path;
        ASSERT_TRUE(unescapeFileName(lines[i].substr(0, lines[i].rfind('|')), path).IsSuccess());
        cut.insert(path);
    }
    lines.resize(items - 3);
    WriteLines(collect, lines);

    RunResult phase = Backup(2, 2);
    EXPECT_EQ(phase.status, 1);
    EXPECT_NE(phase.err.find("[" + collect + "] is not whole"), std::string::npos) << phase.err;
    ExpectOneLine(phase.err, "fsbackup");
    EXPECT_TRUE(fs::exists(Results() + "/DCTmp.zvf"));
    EXPECT_EQ(Read(Results() + "/DCInc.zvf"), record);

    // The job manager runs the next incremental against the last good one.
    Job(3, 2, fullReference);
    const std::set<std::string> taken = Selected(2).items;
    for (const std::string& path : cut)
        EXPECT_TRUE(taken.contains(path)) << path;
}

// The text record damaged, cut or missing, and the database record (agent setting
// "nUseSQLiteDirchange" 1) cut in half.
TEST_F(DurabilityTest, UnusablePreviousRecordTakesEveryItemAndRaisesAnEvent)
{
    const struct {
        const char* what;
        const char* record;
        void (*spoil)(const std::string& record);
    } cases[] = {
        {"damaged", "DCInc.zvf",
         [](const std::string& record) { std::fstream(record, std::ios::in | std::ios::out).seekp(40).write("XXXXXXXX", 8); }},
        {"truncated", "DCInc.zvf", [](const std::string& record) { fs::resize_file(record, fs::file_size(record) - 30); }},
        {"missing", "DCInc.zvf", [](const std::string& record) { fs::remove(record); }},
        {"database cut", "DirChangeIncremental.db",
         [](const std::string& record) { fs::resize_file(record, fs::file_size(record) / 2); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_instance + "/JobResults");
        fs::remove_all(m_instance + "/JobManager");
        fs::remove(m_data + "/moved.txt");
        Settings(std::string(c.record).ends_with(".db") ? "nUseSQLiteDirchange 1\n" : "");
        Job(1, 1);
        c.spoil(Results() + "/" + c.record);
        MoveIn("moved.txt");
        Job(2, 2);

        const SSelected taken = Selected(2);
        for (const std::string& item : TreeItems(m_data))  // every item, moved.txt too, as a full would take
            EXPECT_TRUE(taken.items.contains(item)) << item;
        EXPECT_TRUE(taken.deletions.empty());
        const auto events = Calls("event", 2);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].value("id", 0u), IncrementalDirChange::kEventPreviousRecordUnusable);
        EXPECT_NE(events[0].value("message", "").find(c.record), std::string::npos);
    }
}

}  // namespace
