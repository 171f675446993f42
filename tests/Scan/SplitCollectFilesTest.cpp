// The collect-file splitter: where pieces are cut, what the split map says, which resources are
// added, and that every item is still listed exactly once across the pieces.
#include "Agent/AgentTestEnv.h"
#include "Base/FXFile.h"
#include "CollectFile/FileNameEscaping.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixSplitCollectFiles.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <random>

namespace {

class FixedSplitOptions : public CPostProcessingOptions {
public:
    explicit FixedSplitOptions(int pieces) : CPostProcessingOptions("2:5"), m_pieces(pieces) {}
    int GetCollectFileSplitCount() const override { return m_pieces; }

private:
    int m_pieces;
};

// Remembers the per-file limits the splitter worked with.
class RecordingSplitter : public CUnixSplitCollectFiles {
public:
    using CUnixSplitCollectFiles::CUnixSplitCollectFiles;
    bool ShouldSplit(std::uint64_t position, std::uint64_t maxData, std::uint64_t linesPerFile, std::uint64_t pieceData,
                     std::uint64_t pieceLines, std::string& line, std::uint64_t total,
                     std::uint64_t& itemSize) const override
    {
        maxDataSeen = maxData;
        linesPerFileSeen = linesPerFile;
        return CUnixSplitCollectFiles::ShouldSplit(position, maxData, linesPerFile, pieceData, pieceLines, line, total,
                                                   itemSize);
    }
    mutable std::uint64_t maxDataSeen = 0;
    mutable std::uint64_t linesPerFileSeen = 0;
};

class ExtentRecordingSplitter : public CUnixSplitCollectFiles {
public:
    ExtentRecordingSplitter(std::shared_ptr<CPostProcessingOptions> options, std::shared_ptr<CFileNameFactory> names,
                            std::vector<COutputResourcesPtr>& resources, int last, long answer)
        : CUnixSplitCollectFiles(std::move(options), std::move(names), resources, last), m_answer(answer)
    {
    }
    CKxError ProcessExtents(const std::string& line, int parent, int child) override
    {
        calls.push_back({line, parent, child});
        return m_answer == 0 ? CKxError::Success() : CKxError(m_answer, "answer");
    }
    struct Call {
        std::string line;
        int parent;
        int child;
    };
    std::vector<Call> calls;

private:
    long m_answer;
};

class OtherConsumer : public CItemConsumer {
public:
    CKxError Process(const CItemPtr&) override { return CKxError::Success(); }
};

struct Line {
    std::string path;  // raw source path
    bool folder = false;
    std::uint64_t size = 0;
};

class SplitCollectFilesTest : public AgentTestEnv {
protected:
    void SetUp() override
    {
        AgentTestEnv::SetUp();
        m_folder = m_root + "/results";
        std::filesystem::create_directories(m_folder);
        m_names = std::make_shared<CUnixFileNameFactory>(1, m_folder);
        EvEvent::SetJobId(7);
    }

    // A collect file with `lines`, written as the walk writes it and left open.
    CFlatCollectFilePtr AddResource(int number, const std::vector<Line>& lines, const std::string& path = {})
    {
        auto file = std::make_shared<CFlatCollectFile>(7, path.empty() ? m_names->WorkUnitCollect(number) : path, "/");
        EXPECT_TRUE(file->Open().IsSuccess());
        std::string text;
        for (const Line& line : lines) {
            text.clear();
            CFlatCollectFile::FormatItemLine(line.path, line.folder, line.size, text);
            EXPECT_TRUE(file->RawWriteItem(text, line.size).IsSuccess());
        }
        auto resource = std::make_shared<COutputResources>(number, "/", "vol-" + std::to_string(number));
        resource->SetCollectConsumer(file);
        m_resources.push_back(resource);
        return file;
    }

    static std::vector<Line> Files(int count, std::uint64_t size, const std::string& stem = "/data/f")
    {
        std::vector<Line> lines;
        for (int i = 0; i < count; ++i)
            lines.push_back({stem + std::to_string(i), false, size});
        return lines;
    }

    static std::vector<std::string> Escaped(const std::vector<Line>& lines)
    {
        std::vector<std::string> escaped;
        for (const Line& line : lines)
            escaped.push_back(escapeFileName(line.path) + (line.folder ? "/" : ""));
        return escaped;
    }

    CFlatCollectFilePtr Collect(size_t index) const
    {
        return std::dynamic_pointer_cast<CFlatCollectFile>(m_resources[index]->GetCollectConsumer());
    }

    // Every line of every resource's file, in resource order.
    std::vector<std::string> AllLines() const
    {
        std::vector<std::string> lines;
        for (size_t i = 0; i < m_resources.size(); ++i)
            if (CFlatCollectFilePtr collect = Collect(i))
                for (const std::string& line : ReadLines(collect->GetFileName()))
                    lines.push_back(line);
        return lines;
    }

    std::vector<std::string> SplitMap() const { return ReadLines(m_names->SplitCollect(0, 0)); }

    std::shared_ptr<CPostProcessingOptions> Pieces(int k) const { return std::make_shared<FixedSplitOptions>(k); }

    std::string m_folder;
    std::shared_ptr<CUnixFileNameFactory> m_names;
    std::vector<COutputResourcesPtr> m_resources;
};

TEST_F(SplitCollectFilesTest, TenEqualItemsInFourStreamsAreCutByTheirShareOfData)
{
    const std::vector<Line> lines = Files(10, 100);
    AddResource(1, lines);
    RecordingSplitter splitter(Pieces(4), m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    EXPECT_EQ(splitter.linesPerFileSeen, 3u);
    EXPECT_EQ(splitter.maxDataSeen, 250u);  // ceil(1000 / 4)
    // 2 items (200 bytes) fit a share of 250, a third would not.
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 5"}));
    EXPECT_EQ(splitter.CountOfAddedCollectFiles(), 4);
    EXPECT_EQ(splitter.GetLastCollectNumber(), 5);
    EXPECT_EQ(splitter.GetSplitMap().at(1), (std::set<int>{2, 3, 4, 5}));
    ASSERT_EQ(m_resources.size(), 5u);
    for (size_t i = 0; i < m_resources.size(); ++i) {
        EXPECT_EQ(m_resources[i]->GetCollectNumber(), static_cast<int>(i + 1));
        EXPECT_EQ(m_resources[i]->GetSourceVolumePath(), "/");
        EXPECT_EQ(m_resources[i]->GetVolumeId(), "vol-1");
        EXPECT_EQ(Collect(i)->GetFileName(), m_names->WorkUnitCollect(static_cast<int>(i + 1)));
        EXPECT_EQ(Collect(i)->GetItemCount(), 2u);
        EXPECT_EQ(Collect(i)->GetDataSize(), 200u);
    }
    EXPECT_EQ(AllLines(), Escaped(lines));  // sizes gone, order kept
    EXPECT_FALSE(FXFile::Exists(m_names->WorkUnitCollect(1) + ".temp"));
}

TEST_F(SplitCollectFilesTest, LinesWithoutSizesAreCutByLineCount)
{
    std::vector<Line> lines;
    for (int i = 0; i < 10; ++i)
        lines.push_back({"/data/d" + std::to_string(i), true, 0});
    AddResource(1, lines);
    RecordingSplitter splitter(Pieces(4), m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    EXPECT_EQ(splitter.maxDataSeen, 0u);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 4"}));
    ASSERT_EQ(m_resources.size(), 4u);
    const std::vector<std::uint64_t> expected = {3, 3, 3, 1};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Collect(i)->GetItemCount(), expected[i]);
        EXPECT_EQ(Collect(i)->GetFolderCount(), expected[i]);
    }
    EXPECT_EQ(AllLines(), Escaped(lines));
}

TEST_F(SplitCollectFilesTest, FewerItemsThanStreamsShareTheDataAmongTheItems)
{
    AddResource(1, {{"/data/big", false, 15}, {"/data/small", false, 6}});
    RecordingSplitter splitter(Pieces(4), m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    EXPECT_EQ(splitter.maxDataSeen, 11u);  // ceil(21 / min(4, 2)), not ceil(21 / 4)
    EXPECT_EQ(splitter.linesPerFileSeen, 1u);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 2"}));
    EXPECT_EQ(Collect(0)->GetDataSize(), 15u);
    EXPECT_EQ(Collect(1)->GetDataSize(), 6u);
}

TEST_F(SplitCollectFilesTest, ShouldSplitReadsAndRemovesTheSizeSuffix)
{
    CUnixSplitCollectFiles splitter(Pieces(1), m_names, m_resources, 0);
    struct Case {
        std::string line;
        std::string written;
        std::uint64_t size;
    };
    const std::vector<Case> cases = {
        {"/a/b|123", "/a/b", 123},
        {"/a/b", "/a/b", 0},
        {"/dir/", "/dir/", 0},
        {"/x\\x7cy|5", "/x\\x7cy", 5},  // an escaped '|' in the name is not the separator
        {"/big|18446744073709551615", "/big", 18446744073709551615ULL},
        {"%EXTENTQ%/f:1:2:3:4:5|9", "%EXTENTQ%/f:1:2:3:4:5", 9},
    };
    for (const Case& c : cases) {
        std::string line = c.line;
        std::uint64_t size = 77;
        EXPECT_FALSE(splitter.ShouldSplit(0, 0, 100, 0, 0, line, 0, size)) << c.line;
        EXPECT_EQ(line, c.written) << c.line;
        EXPECT_EQ(size, c.size) << c.line;
    }
}

TEST_F(SplitCollectFilesTest, ShouldSplitBoundaries)
{
    CUnixSplitCollectFiles splitter(Pieces(1), m_names, m_resources, 0);
    std::uint64_t size = 0;
    auto ask = [&](std::uint64_t position, std::uint64_t maxData, std::uint64_t linesPerFile, std::uint64_t pieceData,
                   std::uint64_t pieceLines, std::string line, std::uint64_t total) {
        return splitter.ShouldSplit(position, maxData, linesPerFile, pieceData, pieceLines, line, total, size);
    };
    const std::uint64_t bound = CUnixSplitCollectFiles::kMaxCollectFileBytes;
    // "/abcdefgh" is 9 bytes once the size is cut; the line and its end may reach the bound exactly.
    EXPECT_FALSE(ask(bound - 11, 0, 1000, 0, 1, "/abcdefgh|1", 0));
    EXPECT_TRUE(ask(bound - 10, 0, 1000, 0, 1, "/abcdefgh|1", 0));
    EXPECT_TRUE(ask(bound - 10, 1000, 1000, 0, 1, "/abcdefgh|1", 1000));  // the byte bound comes first
    // Data share: within it no cut; past it a cut once the file's data is more than 5% of a share.
    EXPECT_FALSE(ask(0, 100, 1, 80, 5, "/x|20", 1000));
    EXPECT_TRUE(ask(0, 100, 1000, 90, 1, "/x|20", 1000));
    EXPECT_FALSE(ask(0, 100, 1000, 90, 1, "/x|20", 5));
    EXPECT_TRUE(ask(0, 100, 1000, 90, 1, "/x|20", 6));
    // No data at all: line count.
    EXPECT_FALSE(ask(0, 0, 3, 0, 2, "/d/", 0));
    EXPECT_TRUE(ask(0, 0, 3, 0, 3, "/d/", 0));
}

TEST_F(SplitCollectFilesTest, OneStreamStillCutsAtTheByteBound)
{
    const std::vector<Line> lines = Files(20, 1);  // "/data/fNN" lines of 9 or 10 bytes
    AddResource(1, lines);
    CUnixSplitCollectFiles splitter(Pieces(1), m_names, m_resources, 1);
    splitter.SetMaxCollectFileBytes(40);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    ASSERT_GT(m_resources.size(), 1u);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 " + std::to_string(m_resources.size())}));
    for (size_t i = 0; i < m_resources.size(); ++i) {
        EXPECT_LE(std::filesystem::file_size(Collect(i)->GetFileName()), 40u);
        EXPECT_EQ(Collect(i)->tellp(), std::filesystem::file_size(Collect(i)->GetFileName()));
    }
    EXPECT_EQ(AllLines(), Escaped(lines));
}

TEST_F(SplitCollectFilesTest, OneStreamUnderTheBoundKeepsTheFileWhole)
{
    const std::vector<Line> lines = Files(50, 1000);
    AddResource(1, lines);
    CUnixSplitCollectFiles splitter(Pieces(1), m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1"}));
    EXPECT_EQ(splitter.CountOfAddedCollectFiles(), 0);
    EXPECT_TRUE(splitter.GetSplitMap().at(1).empty());
    EXPECT_EQ(AllLines(), Escaped(lines));
    EXPECT_EQ(Collect(0)->GetDataSize(), 50000u);
}

TEST_F(SplitCollectFilesTest, SplitMapOfSeveralResources)
{
    AddResource(1, Files(10, 10));
    AddResource(2, Files(1, 10, "/other/g"));
    AddResource(3, {});
    auto foreign = std::make_shared<COutputResources>(4, "/", "vol-4");
    foreign->SetCollectConsumer(std::make_shared<OtherConsumer>());
    m_resources.push_back(foreign);
    const std::string deletedPath = m_folder + "/CollectTotDeletedItems.zvf";
    auto deleted = AddResource(5, {{"/gone", false, 0}}, deletedPath);
    CUnixSplitCollectFiles splitter(Pieces(2), m_names, m_resources, 5);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    // Resource 3 has no item, 4 is not a collect file, 5 lists deletions: none has a line.
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 6 6", "2"}));
    ASSERT_EQ(m_resources.size(), 6u);
    EXPECT_EQ(m_resources[5]->GetCollectNumber(), 6);
    EXPECT_EQ(m_resources[5]->GetVolumeId(), "vol-1");
    EXPECT_EQ(Collect(0)->GetItemCount() + Collect(5)->GetItemCount(), 10u);
    EXPECT_EQ(m_resources[3]->GetCollectConsumer(), foreign->GetCollectConsumer());
    ASSERT_TRUE(deleted->Close().IsSuccess());
    EXPECT_EQ(ReadLines(deletedPath), (std::vector<std::string>{"/gone|0"}));
    EXPECT_EQ(splitter.GetSplitMap().size(), 2u);
}

TEST_F(SplitCollectFilesTest, EmptyFileGivesNoSplitMapLine)
{
    AddResource(1, {});
    CUnixSplitCollectFiles splitter(Pieces(4), m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    EXPECT_TRUE(FXFile::Exists(m_names->SplitCollect(0, 0)));
    EXPECT_TRUE(SplitMap().empty());
    EXPECT_TRUE(splitter.GetSplitMap().empty());
}

TEST_F(SplitCollectFilesTest, BlankLinesAreDroppedAndTrailingBlanksCut)
{
    auto file = AddResource(1, {});
    ASSERT_TRUE(file->RawWriteItem("   ", 0).IsSuccess());
    ASSERT_TRUE(file->RawWriteItem("/a b|5 \t", 5).IsSuccess());
    ASSERT_TRUE(file->RawWriteItem("\t", 0).IsSuccess());
    ASSERT_TRUE(file->RawWriteItem("/c/", 0).IsSuccess());
    CUnixSplitCollectFiles splitter(Pieces(1), m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    EXPECT_EQ(AllLines(), (std::vector<std::string>{"/a b", "/c/"}));
    EXPECT_EQ(Collect(0)->GetItemCount(), 2u);
    EXPECT_EQ(Collect(0)->GetDataSize(), 5u);
}

TEST_F(SplitCollectFilesTest, EveryItemListedOnceWhateverTheSizes)
{
    std::mt19937_64 random(20261205);
    std::vector<Line> lines;
    std::uint64_t total = 0;
    for (int i = 0; i < 3000; ++i) {
        const bool folder = random() % 5 == 0;
        // Mostly small files with a few very large ones, and names that need escaping.
        std::uint64_t size = folder ? 0 : (random() % 50 == 0 ? random() % 1'000'000'000 : random() % 10'000);
        lines.push_back({"/data/n\n|" + std::to_string(i), folder, size});
        total += size;
    }
    AddResource(1, lines);
    AddResource(2, Files(7, 3));
    RecordingSplitter splitter(Pieces(7), m_names, m_resources, 2);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    std::vector<std::string> expected = Escaped(lines);
    const std::vector<std::string> second = Escaped(Files(7, 3));
    const std::vector<std::string> all = AllLines();
    // Resource 2's first piece follows resource 1's first piece; later pieces come after both.
    std::multiset<std::string> seen(all.begin(), all.end());
    std::multiset<std::string> wanted(expected.begin(), expected.end());
    wanted.insert(second.begin(), second.end());
    EXPECT_EQ(seen, wanted);

    std::uint64_t data = 0;
    std::uint64_t items = 0;
    const std::uint64_t share = (total + 6) / 7;
    for (size_t i = 0; i < m_resources.size(); ++i) {
        data += Collect(i)->GetDataSize();
        items += Collect(i)->GetItemCount();
        if (m_resources[i]->GetVolumeId() == "vol-1" && Collect(i)->GetItemCount() > 1) {
            EXPECT_LE(Collect(i)->GetDataSize(), share) << "piece " << m_resources[i]->GetCollectNumber();
        }
    }
    EXPECT_EQ(data, total + 21);
    EXPECT_EQ(items, 3007u);
    const std::vector<std::string> map = SplitMap();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0], "1 3 " + std::to_string(2 + splitter.GetSplitMap().at(1).size()));
    EXPECT_EQ(splitter.CountOfAddedCollectFiles(), static_cast<int>(m_resources.size()) - 2);
}

TEST_F(SplitCollectFilesTest, ExtentHookSeesEveryLineUntilItDeclines)
{
    AddResource(1, Files(6, 10));
    ExtentRecordingSplitter tracking(Pieces(3), m_names, m_resources, 1, 0);
    ASSERT_TRUE(tracking.Run().IsSuccess());
    ASSERT_EQ(tracking.calls.size(), 6u);
    const std::vector<int> pieces = {1, 1, 2, 2, 3, 3};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(tracking.calls[i].line, "/data/f" + std::to_string(i));
        EXPECT_EQ(tracking.calls[i].parent, 1);
        EXPECT_EQ(tracking.calls[i].child, pieces[i]);
    }

    m_resources.clear();
    AddResource(1, Files(6, 10));
    ExtentRecordingSplitter declining(Pieces(3), m_names, m_resources, 1, CUnixSplitCollectFiles::kNotSupported);
    ASSERT_TRUE(declining.Run().IsSuccess());
    EXPECT_EQ(declining.calls.size(), 1u);

    m_resources.clear();
    AddResource(1, Files(6, 10));
    ExtentRecordingSplitter failing(Pieces(3), m_names, m_resources, 1, 13);  // other answers are ignored
    ASSERT_TRUE(failing.Run().IsSuccess());
    EXPECT_EQ(failing.calls.size(), 6u);

    std::vector<COutputResourcesPtr> none;
    CUnixSplitCollectFiles plain(Pieces(1), m_names, none, 0);
    EXPECT_EQ(plain.ProcessExtents("/x", 1, 1).Code(), CUnixSplitCollectFiles::kNotSupported);
}

TEST_F(SplitCollectFilesTest, CollectFileThatCannotBeRenamedRaisesTheEvent)
{
    auto first = AddResource(1, Files(4, 10));
    auto second = AddResource(2, Files(4, 10));
    ASSERT_TRUE(second->Close().IsSuccess());
    std::filesystem::remove(second->GetFileName());
    CUnixSplitCollectFiles splitter(Pieces(2), m_names, m_resources, 2);
    CKxError result = splitter.Run();
    ASSERT_TRUE(result.IsError());
    EXPECT_NE(result.AsString().find("Failed open input file"), std::string::npos);

    // The file before it stays split and recorded.
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 3 3"}));
    bool raised = false;
    for (const std::string& line : ReadLines(m_instance + "/JobManager/7.jsonl")) {
        nlohmann::json record = nlohmann::json::parse(line);
        if (record.value("call", "") == "event" && record.value("id", 0u) == 0x11000027u) {
            raised = true;
            EXPECT_EQ(record["args"][0], second->GetFileName());
        }
    }
    EXPECT_TRUE(raised);
}

TEST_F(SplitCollectFilesTest, SplitMapThatCannotBeCreatedStopsTheRun)
{
    AddResource(1, Files(4, 10));
    auto names = std::make_shared<CUnixFileNameFactory>(1, m_folder + "/missing");
    CUnixSplitCollectFiles splitter(Pieces(2), names, m_resources, 1);
    CKxError result = splitter.Run();
    ASSERT_TRUE(result.IsError());
    EXPECT_EQ(result.Code(), ENOENT);
    EXPECT_NE(result.Message().find("Failed open split_config file"), std::string::npos);
    EXPECT_EQ(m_resources.size(), 1u);
}

TEST_F(SplitCollectFilesTest, NoPiecesAskedMeansNoRun)
{
    AddResource(1, Files(4, 10));
    CUnixSplitCollectFiles splitter(Pieces(0), m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    EXPECT_FALSE(FXFile::Exists(m_names->SplitCollect(0, 0)));
    EXPECT_EQ(m_resources.size(), 1u);
}

TEST_F(SplitCollectFilesTest, FilesWithFewerItemsThanTheMinimumStayWhole)
{
    AddResource(1, Files(4, 10));
    CUnixSplitCollectFiles splitter(Pieces(4), m_names, m_resources, 1);
    splitter.SetMinimumItemCount(5);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1"}));
    EXPECT_EQ(m_resources.size(), 1u);
}

}  // namespace
