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
        m_data = m_tree + "/data";
        for (int i = 0; i < 20; ++i)
            WriteText(m_data + "/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt", "v1");
        Content({m_data});
    }

    // A file moved in from elsewhere, keeping its 2001 modification time.
    void MoveIn(const std::string& name)
    {
        WriteText(m_data + "/" + name, "old");
        const timespec times[2] = {{978307200, 0}, {978307200, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (m_data + "/" + name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    // Scan job `jobId` (a full when `reference` is 0) and, when `backup`, its backup phase.
    std::int64_t Job(int jobId, std::int64_t reference, bool backup = true)
    {
        NextSecond();
        const int type = reference == 0 ? 1 : 2;
        std::vector<std::string> extra;
        if (reference != 0)
            extra = {"-ref", std::to_string(reference)};
        RunResult scan = ScanJob(jobId, type, extra);
        EXPECT_EQ(scan.status, 0) << scan.err;
        ExpectPhaseCompleted(jobId);
        if (backup) {
            RunResult phase = Backup(jobId, type);
            EXPECT_EQ(phase.status, 0) << phase.out << phase.err;
        }
        return ReferenceOf(jobId);
    }
    std::set<std::string> IncrementalItems() const { return Keys(ListedIn("CollectInc")); }
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

    std::string m_data;
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
    const std::int64_t fullReference = Job(1, 0);
    for (int i = 0; i < 6; ++i)
        MoveIn("moved" + std::to_string(i) + ".txt");
    Job(2, fullReference, false);
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
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    WriteText(collect, text);

    RunResult phase = Backup(2, 2);
    EXPECT_EQ(phase.status, 1);
    EXPECT_NE(phase.err.find("[" + collect + "] is not whole"), std::string::npos) << phase.err;
    EXPECT_EQ(phase.err.find('\n'), phase.err.size() - 1) << phase.err;
    EXPECT_TRUE(fs::exists(Results() + "/DCTmp.zvf"));
    EXPECT_EQ(Read(Results() + "/DCInc.zvf"), record);

    // The job manager runs the next incremental against the last good one.
    Job(3, fullReference);
    const std::set<std::string> taken = IncrementalItems();
    for (const std::string& path : cut)
        EXPECT_TRUE(taken.contains(path)) << path;
}

TEST_F(DurabilityTest, UnusablePreviousRecordTakesEveryItemAndRaisesAnEvent)
{
    const std::vector<std::pair<const char*, void (*)(const std::string& record)>> cases = {
        {"damaged",
         [](const std::string& record) { std::fstream(record, std::ios::in | std::ios::out).seekp(40).write("XXXXXXXX", 8); }},
        {"truncated", [](const std::string& record) { fs::resize_file(record, fs::file_size(record) - 30); }},
        {"missing", [](const std::string& record) { fs::remove(record); }},
    };
    for (const auto& [what, spoil] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(m_instance + "/JobResults");
        fs::remove_all(m_instance + "/JobManager");
        fs::remove(m_data + "/moved.txt");
        const std::int64_t reference = Job(1, 0);
        spoil(Results() + "/DCInc.zvf");
        MoveIn("moved.txt");
        Job(2, reference);

        const std::set<std::string> taken = IncrementalItems();
        for (const std::string& item : TreeItems(m_data))  // every item, moved.txt too, as a full would take
            EXPECT_TRUE(taken.contains(item)) << item;
        for (const std::string& line : Lines(Results() + "/CollectInc1.zvf"))
            EXPECT_FALSE(line.starts_with("??")) << line;
        const auto events = Calls("event", 2);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].value("id", 0u), IncrementalDirChange::kEventPreviousRecordUnusable);
        EXPECT_NE(events[0].value("message", "").find("DCInc.zvf"), std::string::npos);
    }
}

}  // namespace
