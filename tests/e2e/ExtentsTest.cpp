// Large files backed up by extents, through the real binaries: a sparse file past the threshold
// is cut into extents spread over several collect files, its container goes to a collect file of
// its own, the extent table and node map describe it, and the backup phase finds every extent.
#include "ScanJobFixture.h"

#include "CollectFile/ExtentLine.h"
#include "CollectFile/FileExtentTable.h"

#include <regex>

namespace {

using namespace e2e;

constexpr off_t kGiB = off_t{1} << 30;

class ExtentsTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        for (int i = 0; i < 5; ++i)
            WriteText(m_data + "/small" + std::to_string(i) + ".txt", "small " + std::to_string(i));
    }

    // A sparse file of `size` bytes; false (the test skips) where the file system keeps no holes.
    bool MakeLarge(const std::string& path, off_t size)
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool made = fd >= 0 && ::ftruncate(fd, size) == 0 && ::pwrite(fd, "x", 1, size - 1) == 1;
        struct stat status {};
        const bool sparse = made && ::fstat(fd, &status) == 0 && status.st_blocks * 512 < size / 2;
        if (fd >= 0)
            ::close(fd);
        return sparse;
    }
    void Configure(const std::string& slabs, int streams, const std::string& extentBackup)
    {
        Settings("mszFileExtentSlabs " + slabs + "\n");
        Content({m_data}, "\"numStreams\": " + std::to_string(streams) +
                              (extentBackup.empty() ? "" : ", \"extentBackup\": " + extentBackup));
    }
    static std::string On() { return R"({"enabled": true, "fileSizeThreshold": 1073741824})"; }

    // The extent and container lines of the job's collect files, with the file holding each.
    struct SFound {
        std::vector<std::pair<CExtentLine, std::string>> extents, containers;
    };
    SFound Found() const
    {
        SFound found;
        for (const std::string& file : CollectFiles())
            for (const std::string& line : Lines(file)) {
                CExtentLine::EKind kind{};
                if (!CExtentLine::KindOf(line, kind))
                    continue;
                CExtentLine parsed;
                EXPECT_TRUE(CExtentLine::Parse(line, parsed).IsSuccess()) << line;
                EXPECT_NE(kind, CExtentLine::EKind::Qualified) << "left unexpanded: " << line;
                (kind == CExtentLine::EKind::Extent ? found.extents : found.containers).emplace_back(parsed, file);
            }
        return found;
    }
    std::map<std::string, std::string> CollectContents() const
    {
        std::map<std::string, std::string> contents;
        for (const std::string& file : CollectFiles())
            contents[fs::path(file).filename().string()] = Read(file);
        return contents;
    }
};

TEST_F(ExtentsTest, LargeFileIsCutIntoExtentsSpreadOverStreams)
{
    const std::string large = m_data + "/big:file.img";  // ':' in the name: lines are read from the right
    if (!MakeLarge(large, 25 * kGiB))
        GTEST_SKIP() << "the scratch file system keeps no sparse files";
    Configure("100G:10G", 3, On());
    const std::string backupOut = Job(1, 1);

    const std::string params = PhaseParams();
    EXPECT_NE(params.find(" -msExtBkp "), std::string::npos) << params;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(params, match, std::regex(" -CCId ([0-9]+) "))) << params;
    const std::string containerFile = Results() + "/CollectTot" + match[1].str() + ".zvf";

    SFound found = Found();
    ASSERT_EQ(found.extents.size(), 3u);
    std::set<std::string> extentFiles;
    std::uint64_t covered = 0;
    for (const auto& [extent, file] : found.extents) {
        EXPECT_EQ(extent.path, large);
        EXPECT_EQ(extent.extentSize, std::uint64_t{10} << 30);
        EXPECT_EQ(extent.ExtentLength(extent.index), extent.index < 2 ? std::uint64_t{10} << 30 : std::uint64_t{5} << 30);
        covered += extent.ExtentLength(extent.index);
        extentFiles.insert(file);
    }
    EXPECT_EQ(covered, std::uint64_t{25} << 30);
    EXPECT_GE(extentFiles.size(), 2u) << "the extents of one file should feed several streams";
    ASSERT_EQ(found.containers.size(), 1u);
    EXPECT_EQ(found.containers[0].second, containerFile);
    EXPECT_EQ(Lines(containerFile).size(), 1u) << "the container file holds container lines only";

    // The small files stay ordinary items; the large one is listed only by its extents.
    const std::map<std::string, int> items = Listed();
    EXPECT_EQ(items.count(m_data + "/small0.txt"), 1u);
    EXPECT_EQ(items.count(large), 0u);

    CFileExtentTable table;
    ASSERT_TRUE(table.Initialize(Results(), "FileExtentTable_scan_1").IsSuccess());
    std::vector<FileExtentRecord> records;
    ASSERT_TRUE(table.SearchRecords(large, records).IsSuccess());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].extentCount, 3u);
    EXPECT_EQ(records[0].extentBitmap.count(), 3u);

    const std::vector<std::string> nodeMap = Lines(Results() + "/FileExtentBackupInfo.zvf");
    EXPECT_NE(std::find(nodeMap.begin(), nodeMap.end(), "container " + match[1].str()), nodeMap.end());
    for (const std::string& file : extentFiles) {
        const std::string number = std::regex_replace(fs::path(file).filename().string(), std::regex("[^0-9]"), "");
        EXPECT_NE(std::find(nodeMap.begin(), nodeMap.end(), "extent " + number), nodeMap.end()) << file;
    }
    EXPECT_NE(backupOut.find("extents: 3 (files in extents: 1), containers: 1"), std::string::npos) << backupOut;

    // An extent lost on the way (the evidence made to agree) fails the phase, naming the file.
    const std::string& lossy = found.extents[1].second;
    KeepLines(lossy, [](const std::string& line) { return !line.starts_with(CExtentLine::kExtentMarker); });
    Seal(Results(), "Tot");
    RunResult lost = Backup();
    EXPECT_NE(lost.status, 0);
    EXPECT_NE(lost.err.find("big:file.img"), std::string::npos) << lost.err;
}

TEST_F(ExtentsTest, ExtentsOffLeavesTheCollectFilesOfAPlainRunAndSizeZeroCutsBy4MiB)
{
    if (!MakeLarge(m_data + "/big.img", 2 * kGiB))
        GTEST_SKIP() << "the scratch file system keeps no sparse files";
    Configure("100G:10G", 2, "");
    Job(1, 1);
    const auto plain = CollectContents();
    Configure("100G:10G", 2, R"({"enabled": false, "fileSizeThreshold": 1073741824})");
    Job(2, 1);
    EXPECT_EQ(CollectContents(), plain);
    EXPECT_FALSE(fs::exists(Results() + "/FileExtentBackupInfo.zvf"));
    Configure("1G:0", 1, On());
    Job(3, 1);
    EXPECT_EQ(Found().extents.size(), 512u);
}

}  // namespace
