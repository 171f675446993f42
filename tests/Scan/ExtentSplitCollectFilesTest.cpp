// The extent splitter: what the expansion makes of the files the extent consumer marked (extent
// lines, container lines, table pages, counts).
#include "CollectFile/ExtentLine.h"
#include "CollectFile/FileExtentTable.h"
#include "CollectFile/FlatCollectFile.h"
#include "Engine/FindFirstItem.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScanJobTestEnv.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixMultiStreamExtentSplitCollectFiles.h"

#include <filesystem>

namespace {

namespace Id = SXScannerConfigurationBagId;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

class ExtentSplitCollectFilesTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_folder = m_root + "/results";
        std::filesystem::create_directories(m_folder);
        m_names = std::make_shared<CUnixFileNameFactory>(1, m_folder);
        m_bag = std::make_shared<CBag>();
        ASSERT_TRUE(m_bag->Write(Id::idMultiStreamExtentBackup, true).IsSuccess());
    }

    // Collect file `number` as the walk writes it: files of the given sizes, each marked for
    // extents with the extent size beside it unless that is negative.
    CFlatCollectFilePtr AddResource(int number, const std::vector<std::pair<std::uint64_t, std::int64_t>>& files)
    {
        auto collect = std::make_shared<CFlatCollectFile>(7, m_names->WorkUnitCollect(number), "/");
        EXPECT_TRUE(collect->Open().IsSuccess());
        for (size_t i = 0; i < files.size(); ++i) {
            struct stat status {};
            status.st_mode = S_IFREG | 0644;
            status.st_dev = 9;
            status.st_ino = static_cast<ino_t>(100 * number + i);
            status.st_size = static_cast<off_t>(files[i].first);
            status.st_mtime = 1700000000;
            const std::string path = "/d/" + std::to_string(number) + ":" + std::to_string(i);
            auto item = std::make_shared<CFindFirstItem>(path, path, status);
            if (files[i].second >= 0) {
                EXPECT_TRUE(item->GetBag().Write(CExtentLine::kQualifiedKey, true).IsSuccess());
                EXPECT_TRUE(item->GetBag()
                                .Write(CExtentLine::kExtentSizeKey, static_cast<unsigned long long>(files[i].second))
                                .IsSuccess());
            }
            EXPECT_TRUE(collect->Process(item).IsSuccess());
        }
        auto resource = std::make_shared<COutputResources>(number, "/", "vol");
        resource->SetCollectConsumer(collect);
        m_resources.push_back(resource);
        return collect;
    }
    CFlatCollectFilePtr Collect(size_t index) const
    {
        return std::dynamic_pointer_cast<CFlatCollectFile>(m_resources[index]->GetCollectConsumer());
    }
    std::string m_folder;
    std::shared_ptr<CUnixFileNameFactory> m_names;
    CBagPtr m_bag;
    std::vector<COutputResourcesPtr> m_resources;
};

TEST_F(ExtentSplitCollectFilesTest, ExpansionCutsEachMarkedFileIntoExtentsAndAContainer)
{
    AddResource(1, {{100, -1},              // an ordinary file
                    {25 * kGiB, 10 * kGiB},  // 10, 10, 5
                    {20 * kGiB, 10 * kGiB},  // an exact multiple: no empty extent
                    {0, 10 * kGiB},          // empty: a container and no extent
                    {9 * kMiB, 0},           // extent size 0 stands for 4 MiB
                    {600 * kMiB, kMiB}});    // 600 extents over three table pages
    CFlatCollectFilePtr untouched = AddResource(2, {{5, -1}, {6, -1}});
    EXPECT_EQ(Collect(0)->GetExtentQualifiedCount(), 5u);
    CUnixMultiStreamExtentSplitCollectFiles splitter(std::make_shared<CPostProcessingOptions>("2:5"), m_names,
                                                     m_resources, 2, m_bag, 7);
    ASSERT_TRUE(splitter.Run2().IsSuccess());

    // Per file: the lengths of its extents in index order, and its container.
    std::map<std::string, std::vector<std::uint64_t>> extents;
    std::uint64_t extentData = 0;
    for (const std::string& text : ReadLines(m_names->WorkUnitCollect(1))) {
        CExtentLine line;
        if (!text.starts_with(CExtentLine::kExtentMarker)) {
            EXPECT_EQ(text, "/d/1:0|100");
            continue;
        }
        ASSERT_TRUE(CExtentLine::Parse(text, line).IsSuccess()) << text;
        EXPECT_EQ(line.index, extents[line.path].size()) << text;
        extents[line.path].push_back(line.size);
        extentData += line.size;
    }
    EXPECT_EQ(extents["/d/1:1"], (std::vector<std::uint64_t>{10 * kGiB, 10 * kGiB, 5 * kGiB}));
    EXPECT_EQ(extents["/d/1:2"], (std::vector<std::uint64_t>{10 * kGiB, 10 * kGiB}));
    EXPECT_EQ(extents.count("/d/1:3"), 0u);
    EXPECT_EQ(extents["/d/1:4"], (std::vector<std::uint64_t>{4 * kMiB, 4 * kMiB, kMiB}));
    EXPECT_EQ(extents["/d/1:5"].size(), 600u);

    // The counts describe the rewritten file; the container file is the next collect number.
    EXPECT_EQ(Collect(0)->GetItemCount(), 1u + 3 + 2 + 3 + 600);
    EXPECT_EQ(Collect(0)->GetDataSize(), 100 + extentData);
    EXPECT_EQ(Collect(1), untouched) << "a file without marked lines is not rewritten";
    ASSERT_EQ(m_resources.size(), 3u);
    EXPECT_EQ(m_resources[2]->GetCollectNumber(), 3);
    EXPECT_EQ(m_bag->Get<int>(Id::idContainerCollectId, 0), 3);
    const std::vector<std::string> containers = ReadLines(m_names->WorkUnitCollect(3));
    ASSERT_EQ(containers.size(), 5u);
    EXPECT_EQ(containers[3], "%CONTAINER%/d/1:4:9:104:1700000000:9437184:4194304");
    EXPECT_EQ(m_bag->Get<unsigned long long>(Id::idTotalExtentCount, 0), 608u);
    EXPECT_EQ(m_bag->Get<unsigned long long>(Id::idTotalContainerCount, 0), 5u);

    CFileExtentTable table;
    ASSERT_TRUE(table.Initialize(m_folder, "FileExtentTable_scan_7").IsSuccess());
    std::vector<FileExtentRecord> pages;
    ASSERT_TRUE(table.SearchRecords("/d/1:5", pages).IsSuccess());
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].extentBitmap.count() + pages[1].extentBitmap.count() + pages[2].extentBitmap.count(), 600u);
    EXPECT_EQ(pages[2].extentBitmap.count(), 600u - 512);
    EXPECT_EQ(pages[2].pageId, 2u);
    ASSERT_TRUE(table.SearchRecords("/d/1:3", pages).IsSuccess());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].extentBitmap.count(), 0u);
}

TEST_F(ExtentSplitCollectFilesTest, AMalformedLineStopsTheRunAndLeavesTheFileAsItWas)
{
    CFlatCollectFilePtr collect = AddResource(1, {{25 * kGiB, 10 * kGiB}});
    ASSERT_TRUE(collect->RawWriteLine("%EXTENTQ%/d/broken:1:2|5").IsSuccess());
    ASSERT_TRUE(collect->Flush().IsSuccess());
    const std::vector<std::string> before = ReadLines(m_names->WorkUnitCollect(1));
    CUnixMultiStreamExtentSplitCollectFiles splitter(std::make_shared<CPostProcessingOptions>("2:5"), m_names,
                                                     m_resources, 1, m_bag, 7);
    const CKxError error = splitter.Run();
    EXPECT_EQ(error.Code(), KxCode::InvalidData);
    EXPECT_NE(error.AsString().find("Line 2 of collect file [" + m_names->WorkUnitCollect(1)), std::string::npos)
        << error.AsString();
    EXPECT_EQ(ReadLines(m_names->WorkUnitCollect(1)), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder), {}), 1) << "container or temporary left";
    EXPECT_EQ(m_resources.size(), 1u);
    EXPECT_FALSE(m_bag->Has(Id::idContainerCollectId));
}

}  // namespace
