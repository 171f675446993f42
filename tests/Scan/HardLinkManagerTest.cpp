// The hard-link manager's files: what the split deals where, and how the merge numbers and groups
// the results with the split map it finds.
#include "Base/ScratchFolderTest.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/HardLink/HardLinkManager.h"
#include "Scan/Unix/UnixFileNameFactory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class HardLinkManagerTest : public ScratchFolderTest {
protected:
    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        m_folder = m_dir;
        m_names = std::make_shared<CUnixFileNameFactory>(1, m_folder);
    }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(m_folder + "/" + name, std::ios::binary) << text;
    }
    // Resources 1..count, each with an (empty) collect file of its own.
    std::vector<COutputResourcesPtr> Resources(int count) const
    {
        std::vector<COutputResourcesPtr> resources;
        for (int n = 1; n <= count; ++n) {
            auto resource = std::make_shared<COutputResources>(n, "/v" + std::to_string(n), "id");
            resource->SetCollectConsumer(std::make_shared<CFlatCollectFile>(1, m_names->WorkUnitCollect(n)));
            resources.push_back(resource);
        }
        return resources;
    }
    static HLinkGroupElement Name(std::uint64_t inode, std::uint64_t size, const std::string& path)
    {
        return HLinkGroupElement{inode, 7, 100, size, path};
    }

    std::string m_folder;
    std::shared_ptr<CUnixFileNameFactory> m_names;
};

// The merge numbers the hard-link files after the highest number in use and lists each group's
// hard-link files before its pieces; leftovers of an earlier job do not survive the first insertion.
TEST_F(HardLinkManagerTest, MergeGroupsWithTheSplitMap)
{
    Write("HCollectTot9.tmp", "stale");
    Write("Merged_split_config", "stale");
    Write("split_config", "1\n2 5 6\n");
    HardLinkManager manager(m_names, true);
    ASSERT_TRUE(manager.InsertEntryInHCollectFile(2, Name(10, 4, "/v2/a")).IsSuccess());
    ASSERT_TRUE(manager.InsertEntryInHCollectFile(2, Name(10, 4, "/v2/b")).IsSuccess());
    ASSERT_TRUE(manager.InsertEntryInHCollectFile(2, Name(11, 4, std::string(HardLinkManager::kPhonyFolder) + "x"))
                    .IsSuccess());
    EXPECT_FALSE(fs::exists(m_folder + "/HCollectTot9.tmp"));
    EXPECT_EQ(manager.InsertedCount(), 2u);

    ASSERT_TRUE(manager.SplitHCollectFile(1).IsSuccess());
    EXPECT_EQ(Read(m_folder + "/HCollect_split_config"), "2 1 \n");
    EXPECT_FALSE(fs::exists(m_folder + "/HCollectTot2.zvf"));
    auto resources = Resources(6);
    int last = 6;
    std::vector<CCollectEvidence::SEntry> written;
    ASSERT_TRUE(manager.MergeSplitFiles(last, resources, written).IsSuccess());
    EXPECT_EQ(last, 7);
    EXPECT_EQ(Read(m_folder + "/split_config"), "1\n7,2,5,6\n");
    EXPECT_EQ(Read(m_folder + "/split_config.orig"), "1\n2 5 6\n");
    EXPECT_EQ(Read(m_folder + "/Merged_split_config"), "1 \nH7 2 5 6 \n");
    ASSERT_EQ(resources.size(), 7u);
    EXPECT_EQ(resources[6]->GetSourceVolumePath(), "/v2");
    auto merged = std::dynamic_pointer_cast<CFlatCollectFile>(resources[6]->GetCollectConsumer());
    EXPECT_EQ(merged->GetItemCount(), 2u);
    EXPECT_EQ(merged->GetDataSize(), 4u);  // the file's data once
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].lines, 3u);
    EXPECT_EQ(written[0].name, "CollectTot7.zvf");
    EXPECT_EQ(Read(m_names->WorkUnitCollect(7)), "# /\n# 10 7 100 4 /v2/a\n# 10 7 100 4 /v2/b\n");
}

// With a split count the groups are dealt by data (a group's data once, a group never divided);
// without the put-all flag only a group's first name is written.
TEST_F(HardLinkManagerTest, SplitDealsGroupsByData)
{
    const struct {
        bool putAll;
        int splitCount;
        std::string expectedMap;
        std::vector<std::uint64_t> linesPerFile;
    } cases[] = {
        {true, 1, "1 1 \n", {8}},
        {false, 1, "1 1 \n", {4}},
        // Data 400 over four or two: shares of 100 or 200, each group 100.
        {true, 4, "1 1 2 3 4 \n", {2, 2, 2, 2}},
        {false, 2, "1 1 2 \n", {2, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "putAll " << c.putAll << " split " << c.splitCount);
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        HardLinkManager manager(m_names, c.putAll);
        for (std::uint64_t inode = 1; inode <= 4; ++inode)
            for (const char* name : {"/x", "/y"})
                ASSERT_TRUE(manager.InsertEntryInHCollectFile(1, Name(inode, 100, "/d" + std::to_string(inode) + name))
                                .IsSuccess());
        ASSERT_TRUE(manager.SplitHCollectFile(c.splitCount).IsSuccess());
        EXPECT_EQ(Read(m_folder + "/HCollect_split_config"), c.expectedMap);
        EXPECT_EQ(manager.GetTotalSize(), 400u);
        for (size_t t = 0; t < c.linesPerFile.size(); ++t) {
            HLinkGroups groups;
            ASSERT_TRUE(HCollectFile::ReadGroups(manager.HCollectPath(static_cast<int>(t + 1), ".tmp"), groups)
                            .IsSuccess());
            std::uint64_t lines = 0;
            for (const auto& [key, elements] : groups)
                lines += elements.size();
            EXPECT_EQ(lines, c.linesPerFile[t]) << "temporary file " << t + 1;
        }
    }
}

// Hard-link lines round-trip any name; a damaged line fails the read with its place.
TEST_F(HardLinkManagerTest, LinesRoundTripAndDamageIsReported)
{
    const HLinkGroupElement odd{~0ULL, 1ULL << 40, -5, 1ULL << 50, "/a b/new\nline|pipe\\\xff\xfe"};
    std::string line;
    HCollectFile::FormatLine(odd, line);
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    line.pop_back();
    HLinkGroupElement back;
    ASSERT_TRUE(HCollectFile::ParseLine(line, back).IsSuccess());
    EXPECT_EQ(back, odd);
    for (const std::string bad : {"# 1 2 3 /no-size", "# x 2 3 4 /p", "# 1 2 3 4 relative", "# 1 2 3 4 /raw\x01"}) {
        Write("H", "# /\n" + line + "\n" + bad + "\n");
        HLinkGroups groups;
        CKxError read = HCollectFile::ReadGroups(m_folder + "/H", groups);
        EXPECT_TRUE(read.IsError()) << bad;
        EXPECT_NE(read.AsString().find("Line 3"), std::string::npos) << read.AsString();
    }
}

}  // namespace
