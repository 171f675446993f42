// Subclient files through the real binaries: every job lists its own results folder ("%SCFILES%"
// lines) for the backup phase: the files the next job starts from, none of the kept records,
// failure lists or the other family's collect files, and each folder on the way once; in a
// collect file of their own when the instance lies on another file system than the content.
#include "ScanJobFixture.h"

namespace {

using namespace e2e;

constexpr std::string_view kPrefix = "%SCFILES%";

class SubclientFilesTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        WriteText(m_tree + "/data/a/f.txt", "f");
        Content({m_tree + "/data"});
    }

    // Per collect file of the family, its lines split into decoded subclient-file paths and the
    // rest (content lines as written).
    struct SLines {
        std::map<std::string, std::vector<std::string>> scFiles;  // by collect file name
        std::map<std::string, int> all;                          // decoded paths of every line
        size_t lines = 0;
    };
    SLines Collect(const std::string& family) const
    {
        SLines read;
        for (const std::string& file : ResultFiles(family)) {
            const std::string name = fs::path(file).filename().string();
            if (name.find("Evidence") != std::string::npos)
                continue;
            for (std::string line : Lines(file)) {
                const bool scFile = line.starts_with(kPrefix);
                if (scFile)
                    line.erase(0, kPrefix.size());
                std::string path;
                EXPECT_TRUE(unescapeFileName(line, path).IsSuccess()) << line;
                ++read.all[path];
                ++read.lines;
                if (scFile)
                    read.scFiles[name].push_back(path);
            }
        }
        return read;
    }
    // The results folder and each folder above it, "/" excluded, as folder lines.
    std::vector<std::string> FoldersUpTo(std::string folder) const
    {
        std::vector<std::string> folders;
        for (fs::path path = fs::canonical(folder); path != path.root_path(); path = path.parent_path())
            folders.push_back(path.string() + "/");
        return folders;
    }
};

TEST_F(SubclientFilesTest, IncrementalListsItsOwnFilesAndEachFolderOnce)
{
    Job(1, 1);
    WriteText(Results() + "/SCFiles.zvf", "x");  // a name no job lists
    WriteText(m_tree + "/data/a/g.txt", "g");
    const std::string summary = Job(2, 2, 1);

    const SLines read = Collect("CollectInc");
    ASSERT_EQ(read.scFiles.size(), 1u) << "the lines go to the one collect file of the volume";
    std::set<std::string> names;
    for (const std::string& path : read.scFiles.begin()->second)
        if (path.back() != '/')
            names.insert(fs::path(path).filename().string());
    for (const char* listed : {"split_config", "DCTmp.zvf", "CollectInc1.zvf", "ScanView.txt"})
        EXPECT_EQ(names.count(listed), 1u) << listed;
    for (const char* unlisted : {"DCTot.zvf", "DCInc.zvf", "scan_Failures.zvf", "CollectTot1.zvf", "SCFiles.zvf"})
        EXPECT_EQ(names.count(unlisted), 0u) << unlisted;

    // Each folder from the results folder up appears once over all lines, content lines
    // included (the content shares the scratch folders above it); "/" is never a subclient file.
    for (const std::string& folder : FoldersUpTo(Results()))
        EXPECT_EQ(read.all.count(folder) ? read.all.at(folder) : 0, 1) << folder;
    for (const std::string& path : read.scFiles.begin()->second)
        EXPECT_NE(path, "/");

    // They are items of the next phase (every line but the content's ancestor lines) and
    // subclient files of the backup phase.
    const size_t items = read.lines - Ancestors(m_tree + "/data").size();
    EXPECT_NE(PhaseParams(2).find(" -c " + std::to_string(items) + " "), std::string::npos) << PhaseParams(2);
    const size_t listed = read.scFiles.begin()->second.size();
    EXPECT_NE(summary.find("subclient files: " + std::to_string(listed) + " (missing: 0)"), std::string::npos)
        << summary;
}

TEST_F(SubclientFilesTest, InstanceOnAnotherFileSystemGetsACollectFileOfItsOwn)
{
    if (!fs::is_directory("/dev/shm") || (m_shm = MakeScratch("/dev/shm")).empty())
        GTEST_SKIP() << "no second file system (/dev/shm) for the instance";
    fs::copy(m_instance, m_shm + "/inst", fs::copy_options::recursive);
    m_instance = m_shm + "/inst";
    m_env = {"FSWEEP_ROOT=" + m_shm};
    const std::string summary = Job(1, 1);

    const SLines read = Collect("CollectTot");
    ASSERT_EQ(read.scFiles.size(), 1u);
    EXPECT_EQ(read.scFiles.begin()->first, "CollectTot2.zvf") << "the content's file is CollectTot1.zvf";
    EXPECT_EQ(read.scFiles.begin()->second.size(), Lines(Results() + "/CollectTot2.zvf").size()) << "subclient files only";
    EXPECT_EQ(Lines(Results() + "/split_config"), (std::vector<std::string>{"1", "2"}));
    for (const std::string& folder : FoldersUpTo(Results()))
        EXPECT_EQ(read.all.count(folder) ? read.all.at(folder) : 0, 1) << folder;
    const std::string listed = "subclient files: " + std::to_string(read.scFiles.begin()->second.size());
    EXPECT_NE(summary.find(listed), std::string::npos) << summary;
}

TEST_F(SubclientFilesTest, SkipsLogTheirReason)
{
    // What skips them, its setting, a laptop client, the reason logged.
    const std::vector<std::tuple<const char*, std::string, bool, const char*>> cases = {
        {"setting", "sSkipSubclientFilesBackup Yes\n", false, "the agent setting sSkipSubclientFilesBackup is set"},
        {"laptop client", "", true, "laptop clients"},
    };
    int jobId = 0;
    for (const auto& [what, setting, laptop, reason] : cases) {
        SCOPED_TRACE(what);
        Settings(setting);
        Content({m_tree + "/data"}, "", {.client = std::string(R"("id": 2, "name": "client1", "laptop": )") + (laptop ? "true" : "false")});
        Job(++jobId, 1);
        EXPECT_TRUE(Collect("CollectTot").scFiles.empty());
        EXPECT_NE(Log().find(std::string("Subclient files backup is skipped. Reason: ") + reason), std::string::npos);
    }
}

}  // namespace
