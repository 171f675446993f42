// The collect-file splitter: where pieces are cut, what the split map says, which resources are
// added, and that every item is still listed exactly once across the pieces.
#include "Base/FXFile.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/FlatCollectFile.h"
#include "Engine/Item.h"
#include "Scan/ContentRootAncestorConsumer.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/ScanJobTestEnv.h"
#include "Scan/Unix/UnixSplitCollectFiles.h"

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

// Remembers the per-file limits it worked with and every extent-hook call.
class RecordingSplitter : public CUnixSplitCollectFiles {
public:
    RecordingSplitter(int pieces, std::shared_ptr<CFileNameFactory> names, std::vector<COutputResourcesPtr>& resources,
                      int last, long extentAnswer = kNotSupported)
        : CUnixSplitCollectFiles(std::make_shared<FixedSplitOptions>(pieces), std::move(names), resources, last),
          m_extentAnswer(extentAnswer)
    {
    }
    bool ShouldSplit(std::uint64_t position, std::uint64_t maxData, std::uint64_t linesPerFile, std::uint64_t pieceData,
                     std::uint64_t pieceLines, std::string_view& line, std::uint64_t total,
                     std::uint64_t& itemSize) const override
    {
        maxDataSeen = maxData;
        linesPerFileSeen = linesPerFile;
        return CUnixSplitCollectFiles::ShouldSplit(position, maxData, linesPerFile, pieceData, pieceLines, line, total,
                                                   itemSize);
    }
    CKxError ProcessExtents(std::string_view line, int parent, int child) override
    {
        extentCalls.push_back(std::string(line) + " " + std::to_string(parent) + ">" + std::to_string(child));
        return m_extentAnswer == 0 ? CKxError::Success() : CKxError(m_extentAnswer, "answer");
    }
    mutable std::uint64_t maxDataSeen = 0;
    mutable std::uint64_t linesPerFileSeen = 0;
    std::vector<std::string> extentCalls;

private:
    long m_extentAnswer;
};

class OtherConsumer : public CItemConsumer {
public:
    CKxError Process(const CItemPtr&) override { return CKxError::Success(); }
};

class SplitCollectFilesTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_folder = m_root + "/results";
        std::filesystem::create_directories(m_folder);
        m_names = std::make_shared<CUnixFileNameFactory>(1, m_folder);
        EvEvent::SetJobId(7);
    }

    // A collect file written as the walk writes it (sizes 0 are folders), left open.
    CFlatCollectFilePtr AddResource(int number, const std::vector<std::uint64_t>& sizes, const std::string& stem = "/d/f",
                                    const std::string& path = {})
    {
        auto file = std::make_shared<CFlatCollectFile>(7, path.empty() ? m_names->WorkUnitCollect(number) : path, "/");
        EXPECT_TRUE(file->Open().IsSuccess());
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::string line;
            CFlatCollectFile::FormatItemLine(stem + std::to_string(i), sizes[i] == 0, sizes[i], line);
            EXPECT_TRUE(file->RawWriteItem(line, sizes[i]).IsSuccess());
        }
        auto resource = std::make_shared<COutputResources>(number, "/", "vol-" + std::to_string(number));
        resource->SetCollectConsumer(file);
        m_resources.push_back(resource);
        return file;
    }
    // The lines AddResource wrote, as the split leaves them.
    static std::vector<std::string> Expected(const std::vector<std::uint64_t>& sizes, const std::string& stem = "/d/f")
    {
        std::vector<std::string> lines;
        for (size_t i = 0; i < sizes.size(); ++i)
            lines.push_back(escapeFileName(stem + std::to_string(i)) + (sizes[i] == 0 ? "/" : ""));
        return lines;
    }

    CFlatCollectFilePtr Collect(size_t index) const
    {
        return std::dynamic_pointer_cast<CFlatCollectFile>(m_resources[index]->GetCollectConsumer());
    }
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

    std::string m_folder;
    std::shared_ptr<CUnixFileNameFactory> m_names;
    std::vector<COutputResourcesPtr> m_resources;
};

TEST_F(SplitCollectFilesTest, TenEqualItemsInFourStreamsAreCutByTheirShareOfData)
{
    const std::vector<std::uint64_t> sizes(10, 100);
    AddResource(1, sizes);
    RecordingSplitter splitter(4, m_names, m_resources, 1, 0);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    EXPECT_EQ(splitter.linesPerFileSeen, 3u);
    EXPECT_EQ(splitter.maxDataSeen, 250u);  // 2 items fit a share, a third would not
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 5"}));
    EXPECT_EQ(splitter.CountOfAddedCollectFiles(), 4);
    EXPECT_EQ(splitter.GetSplitMap().at(1), (std::set<int>{2, 3, 4, 5}));
    ASSERT_EQ(m_resources.size(), 5u);
    for (size_t i = 0; i < m_resources.size(); ++i) {
        EXPECT_EQ(m_resources[i]->GetCollectNumber(), static_cast<int>(i + 1));
        EXPECT_EQ(m_resources[i]->GetVolumeId(), "vol-1");
        EXPECT_EQ(Collect(i)->GetFileName(), m_names->WorkUnitCollect(static_cast<int>(i + 1)));
        EXPECT_EQ(Collect(i)->GetItemCount(), 2u);
        EXPECT_EQ(Collect(i)->GetDataSize(), 200u);
    }
    EXPECT_EQ(AllLines(), Expected(sizes));  // sizes gone, order kept
    EXPECT_FALSE(FXFile::Exists(m_names->WorkUnitCollect(1) + ".temp"));
    // The extent hook saw every line with the piece it went to.
    ASSERT_EQ(splitter.extentCalls.size(), 10u);
    EXPECT_EQ(splitter.extentCalls[1], "/d/f1 1>1");
    EXPECT_EQ(splitter.extentCalls[2], "/d/f2 1>2");
    EXPECT_EQ(splitter.extentCalls[9], "/d/f9 1>5");
}

TEST_F(SplitCollectFilesTest, LinesLongerThanTheReadBlockAndManyBlocksAreRewrittenWhole)
{
    // 40,000 items (several read blocks) with, among them, names longer than a block: the
    // rewrite in place must neither cut a line nor overtake what it has not read yet.
    std::vector<std::uint64_t> sizes(40000, 7);
    for (size_t i = 0; i < sizes.size(); i += 997)
        sizes[i] = 0;
    const std::string stem = "/d/" + std::string(300 << 10, 'n') + "/f";
    auto file = AddResource(1, {3, 0, 5}, stem);
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string line;
        CFlatCollectFile::FormatItemLine("/d/g" + std::to_string(i), sizes[i] == 0, sizes[i], line);
        ASSERT_TRUE(file->RawWriteItem(line, sizes[i]).IsSuccess());
    }
    RecordingSplitter splitter(1, m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    std::vector<std::string> expected = Expected({3, 0, 5}, stem);
    const std::vector<std::string> rest = Expected(sizes, "/d/g");
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(AllLines(), expected);
    EXPECT_EQ(Collect(0)->GetItemCount(), sizes.size() + 3);
}

TEST_F(SplitCollectFilesTest, LinesWithoutDataAreCutByCountAndFewItemsShareTheData)
{
    const std::vector<std::uint64_t> folders(10, 0);
    AddResource(1, folders);
    RecordingSplitter byLines(4, m_names, m_resources, 1);
    ASSERT_TRUE(byLines.Run().IsSuccess());
    EXPECT_EQ(byLines.maxDataSeen, 0u);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 4"}));
    ASSERT_EQ(m_resources.size(), 4u);
    EXPECT_EQ(Collect(0)->GetFolderCount(), 3u);
    EXPECT_EQ(Collect(3)->GetFolderCount(), 1u);
    EXPECT_EQ(AllLines(), Expected(folders));
    EXPECT_EQ(byLines.extentCalls.size(), 1u);  // declined once, never asked again

    m_resources.clear();
    AddResource(1, {15, 6});
    RecordingSplitter twoItems(4, m_names, m_resources, 1, 13);
    ASSERT_TRUE(twoItems.Run().IsSuccess());
    EXPECT_EQ(twoItems.maxDataSeen, 11u);  // ceil(21 / min(4, 2)), not ceil(21 / 4)
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 2"}));
    EXPECT_EQ(twoItems.extentCalls.size(), 2u);  // answers other than "not supported" are ignored
}

TEST_F(SplitCollectFilesTest, ShouldSplitTakesTheSizeOffAndKeepsItsBounds)
{
    RecordingSplitter splitter(1, m_names, m_resources, 0);
    std::uint64_t size = 0;
    for (auto [line, written, expected] : std::vector<std::tuple<std::string_view, std::string, std::uint64_t>>{
             {"/a/b|123", "/a/b", 123},
             {"/a/b", "/a/b", 0},
             {"/x\\x7cy|5", "/x\\x7cy", 5},  // an escaped '|' in the name is not the separator
             {"/big|18446744073709551615", "/big", 18446744073709551615ULL},
         }) {
        EXPECT_FALSE(splitter.ShouldSplit(0, 0, 100, 0, 0, line, 0, size));
        EXPECT_EQ(line, written);
        EXPECT_EQ(size, expected);
    }
    auto ask = [&](std::uint64_t position, std::uint64_t maxData, std::uint64_t pieceData, std::uint64_t pieceLines,
                   std::uint64_t total) {
        std::string_view line = "/abcdefgh|20";
        return splitter.ShouldSplit(position, maxData, 3, pieceData, pieceLines, line, total, size);
    };
    const std::uint64_t bound = CUnixSplitCollectFiles::kMaxCollectFileBytes;
    EXPECT_FALSE(ask(bound - 11, 0, 0, 1, 0));  // 9 bytes and the line's end reach the bound exactly
    EXPECT_TRUE(ask(bound - 10, 0, 0, 1, 0));
    EXPECT_TRUE(ask(bound - 10, 1000, 0, 1, 1000));  // whatever the data share says
    EXPECT_FALSE(ask(0, 100, 80, 5, 1000));           // within the share
    EXPECT_TRUE(ask(0, 100, 90, 1, 1000));            // past it
    EXPECT_FALSE(ask(0, 100, 90, 1, 5));              // past it, but the file's data is 5% of a share
    EXPECT_TRUE(ask(0, 100, 90, 1, 6));
    EXPECT_FALSE(ask(0, 0, 0, 2, 0));  // no data: line count
    EXPECT_TRUE(ask(0, 0, 0, 3, 0));
}

TEST_F(SplitCollectFilesTest, OneStreamStillCutsAtTheByteBound)
{
    const std::vector<std::uint64_t> sizes(20, 1);  // lines "/d/fNN" of 5 or 6 bytes
    AddResource(1, sizes);
    RecordingSplitter splitter(1, m_names, m_resources, 1);
    splitter.SetMaxCollectFileBytes(24);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    ASSERT_GT(m_resources.size(), 4u);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 " + std::to_string(m_resources.size())}));
    for (size_t i = 0; i < m_resources.size(); ++i)
        EXPECT_LE(std::filesystem::file_size(Collect(i)->GetFileName()), 24u);
    EXPECT_EQ(AllLines(), Expected(sizes));
}

TEST_F(SplitCollectFilesTest, AFileInFinalFormIsLeftAsWrittenUnlessTheByteBoundCutsIt)
{
    // A one-stream job writes its lines without sizes; the split leaves such a file alone (and
    // takes its own counts as the evidence), unless it outgrows what one piece may hold; either
    // way a name ending in a blank keeps it.
    for (const std::uint64_t bound : {std::uint64_t{1000}, std::uint64_t{24}}) {
        SCOPED_TRACE(bound);
        m_resources.clear();
        auto file = std::make_shared<CFlatCollectFile>(7, m_names->WorkUnitCollect(1), "/");
        file->SetSizesInLines(false);
        ASSERT_TRUE(file->Open().IsSuccess());
        for (int i = 0; i < 20; ++i) {
            auto item = std::make_shared<CItem>();
            item->SetNames("/d/f" + std::to_string(i) + " ", "/d/f" + std::to_string(i) + " ");  // a name ending in a blank
            item->SetFileMode(S_IFREG);
            item->SetFileSize(10);
            ASSERT_TRUE(file->Process(item).IsSuccess());
        }
        ASSERT_TRUE(file->RawWriteLine("/d/").IsSuccess());  // an ancestor's line
        auto resource = std::make_shared<COutputResources>(1, "/", "vol-1");
        resource->SetCollectConsumer(file);
        m_resources.push_back(resource);
        std::vector<std::string> written;
        for (int i = 0; i < 20; ++i)
            written.push_back("/d/f" + std::to_string(i) + " ");
        written.push_back("/d/");
        RecordingSplitter splitter(1, m_names, m_resources, 1);
        splitter.SetMaxCollectFileBytes(bound);
        ASSERT_TRUE(splitter.Run().IsSuccess());
        EXPECT_EQ(AllLines(), written);
        std::uint64_t data = 0;
        for (size_t i = 0; i < m_resources.size(); ++i)
            data += Collect(i)->GetDataSize();
        EXPECT_EQ(data, 200u);
        if (bound == 1000) {
            EXPECT_EQ(m_resources.size(), 1u);
            ASSERT_EQ(splitter.WrittenFiles().size(), 1u);
            CCollectEvidence::SEntry measured;
            ASSERT_TRUE(CCollectEvidence::Measure(m_names->WorkUnitCollect(1), measured).IsSuccess());
            EXPECT_EQ(std::tie(splitter.WrittenFiles()[0].lines, splitter.WrittenFiles()[0].bytes),
                      std::tie(measured.lines, measured.bytes));
        } else {
            EXPECT_GT(m_resources.size(), 4u);
        }
    }
}

TEST_F(SplitCollectFilesTest, SplitMapOfSeveralResources)
{
    AddResource(1, std::vector<std::uint64_t>(10, 10));
    auto whole = AddResource(2, {});
    ASSERT_TRUE(whole->RawWriteItem("  \t", 0).IsSuccess());  // blank: dropped
    ASSERT_TRUE(whole->RawWriteItem("/other/x|4 \t", 4).IsSuccess());
    AddResource(3, {});
    auto foreign = std::make_shared<COutputResources>(4, "/", "vol-4");
    foreign->SetCollectConsumer(std::make_shared<OtherConsumer>());
    m_resources.push_back(foreign);
    const std::string deletedPath = m_folder + "/CollectTotDeletedItems.zvf";
    auto deleted = AddResource(5, {7}, "/gone", deletedPath);
    RecordingSplitter splitter(2, m_names, m_resources, 5);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    // 3 has no item, 4 is not a collect file, 5 lists deletions: none has a line.
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 6 6", "2"}));
    ASSERT_EQ(m_resources.size(), 6u);
    EXPECT_EQ(m_resources[5]->GetVolumeId(), "vol-1");
    EXPECT_EQ(Collect(0)->GetItemCount() + Collect(5)->GetItemCount(), 10u);
    EXPECT_EQ(ReadLines(Collect(1)->GetFileName()), (std::vector<std::string>{"/other/x"}));
    EXPECT_EQ(Collect(1)->GetDataSize(), 4u);
    ASSERT_TRUE(deleted->Close().IsSuccess());
    EXPECT_EQ(ReadLines(deletedPath), (std::vector<std::string>{"/gone0|7"}));
}

TEST_F(SplitCollectFilesTest, EveryItemListedOnceWhateverTheSizes)
{
    std::mt19937_64 random(20261205);
    std::vector<std::uint64_t> sizes;
    std::uint64_t total = 0;
    for (int i = 0; i < 3000; ++i) {
        // Folders, many small files and a few very large ones.
        sizes.push_back(random() % 5 == 0 ? 0 : (random() % 50 == 0 ? random() % 1'000'000'000 : 1 + random() % 9999));
        total += sizes.back();
    }
    AddResource(1, sizes, "/d/n\n|");
    AddResource(2, std::vector<std::uint64_t>(7, 3));
    RecordingSplitter splitter(7, m_names, m_resources, 2);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    const std::vector<std::string> all = AllLines();
    std::vector<std::string> wanted = Expected(sizes, "/d/n\n|");
    for (const std::string& line : Expected(std::vector<std::uint64_t>(7, 3)))
        wanted.push_back(line);
    EXPECT_EQ(std::multiset<std::string>(all.begin(), all.end()),
              std::multiset<std::string>(wanted.begin(), wanted.end()));
    std::uint64_t data = 0;
    for (size_t i = 0; i < m_resources.size(); ++i) {
        data += Collect(i)->GetDataSize();
        // A piece holds more than its share only when one item alone is larger.
        if (m_resources[i]->GetVolumeId() == "vol-1" && Collect(i)->GetItemCount() > 1) {
            EXPECT_LE(Collect(i)->GetDataSize(), (total + 6) / 7);
        }
    }
    EXPECT_EQ(data, total + 21);
    const std::vector<std::string> map = SplitMap();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0], "1 3 " + std::to_string(2 + splitter.GetSplitMap().at(1).size()));
    EXPECT_EQ(splitter.CountOfAddedCollectFiles(), static_cast<int>(m_resources.size()) - 2);
    // What the split counted as it wrote is what a read-back finds: the evidence takes its word.
    ASSERT_EQ(splitter.WrittenFiles().size(), m_resources.size());
    for (const CCollectEvidence::SEntry& written : splitter.WrittenFiles()) {
        CCollectEvidence::SEntry measured;
        ASSERT_TRUE(CCollectEvidence::Measure(m_folder + "/" + written.name, measured).IsSuccess());
        EXPECT_EQ(std::tie(written.lines, written.bytes, written.name),
                  std::tie(measured.lines, measured.bytes, measured.name));
    }
}

TEST_F(SplitCollectFilesTest, AncestorLinesAreKeptButNeverCountedNorCut)
{
    auto file = std::make_shared<CFlatCollectFile>(7, m_names->WorkUnitCollect(1), "/");
    ASSERT_TRUE(file->Open().IsSuccess());
    auto ancestors = std::make_shared<CContentRootAncestorConsumer>(7, file);
    ASSERT_TRUE(ancestors->Process(std::make_shared<CItem>("/top/sub", true)).IsSuccess());
    std::vector<std::string> expected{"/", "/top/"};
    for (int i = 0; i < 6; ++i) {
        std::string line;
        const std::string path = "/top/sub/f" + std::to_string(i);
        CFlatCollectFile::FormatItemLine(path, false, 100, line);
        ASSERT_TRUE(file->RawWriteItem(line, 100).IsSuccess());
        expected.push_back(path);
    }
    // The last line of a file may lack its newline: the rewritten front then grows by one byte.
    ASSERT_TRUE(file->RawWriteItem("/top/sub/tail|0", 0).IsSuccess());
    expected.push_back("/top/sub/tail");
    auto resource = std::make_shared<COutputResources>(1, "/", "vol-1");
    resource->SetCollectConsumer(file);
    resource->SetAncestorConsumer(ancestors);
    m_resources.push_back(resource);
    ASSERT_TRUE(file->Close().IsSuccess());
    std::filesystem::resize_file(file->GetFileName(), std::filesystem::file_size(file->GetFileName()) - 1);

    RecordingSplitter splitter(2, m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    ASSERT_EQ(m_resources.size(), 2u);
    EXPECT_EQ(Collect(0)->GetItemCount() + Collect(1)->GetItemCount(), 7u);
    EXPECT_EQ(Collect(0)->GetFolderCount(), 0u);
    EXPECT_EQ(Collect(0)->GetItemCount(), 3u);  // cut by the items' data, the ancestors weigh nothing
    EXPECT_EQ(AllLines(), expected);
}

TEST_F(SplitCollectFilesTest, FailuresStopTheRunAndKeepWhatWasDone)
{
    AddResource(1, {10, 10, 10, 10});
    auto second = AddResource(2, {10, 10});
    ASSERT_TRUE(second->Close().IsSuccess());
    std::filesystem::remove(second->GetFileName());
    RecordingSplitter splitter(2, m_names, m_resources, 2);
    CKxError result = splitter.Run();
    ASSERT_TRUE(result.IsError());
    EXPECT_NE(result.AsString().find("Failed open input file"), std::string::npos);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 3 3"}));  // the file before it stays split
    const auto events = Events(0x11000027u);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["args"][0], second->GetFileName());

    auto elsewhere = std::make_shared<CUnixFileNameFactory>(1, m_folder + "/missing");
    RecordingSplitter noMap(2, elsewhere, m_resources, 3);
    result = noMap.Run();
    EXPECT_EQ(result.Code(), ENOENT);
    EXPECT_NE(result.Message().find("Failed open split_config file"), std::string::npos);

    RecordingSplitter noPieces(0, elsewhere, m_resources, 3);  // nothing asked: nothing done
    EXPECT_TRUE(noPieces.Run().IsSuccess());
}

}  // namespace
