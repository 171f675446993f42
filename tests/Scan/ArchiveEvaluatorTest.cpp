// The disk-cleanup decision at its boundaries: sizes, extensions, path lengths, the quota.
#include <gtest/gtest.h>

#include "Base/ScratchFolderTest.h"
#include "Engine/FindFirstItem.h"
#include "Scan/Archiving/ArchiveEvaluator.h"
#include "Scan/ScannerConfigurationBagId.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
namespace Id = SXScannerConfigurationBagId;

constexpr long long kReference = 1'000'000'000;
constexpr long long kMiB = 1 << 20;
constexpr long kDay = 86400;

// The evaluator with the decisions it reports kept.
class CRecordingEvaluator : public CArchiveEvaluator {
public:
    using CArchiveEvaluator::CArchiveEvaluator;
    void AddToStubbingReport(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class ArchiveEvaluatorTest : public ScratchFolderTest {
protected:
    // 30 days, at least 1 MiB, extension "log".
    static CBag Rules(const std::string& extensions = "log")
    {
        CBag bag;
        EXPECT_TRUE(bag.Write(Id::idNumDaysAccessed, 30ull).IsSuccess());
        EXPECT_TRUE(bag.Write(Id::idNumDaysModified, 30ull).IsSuccess());
        EXPECT_TRUE(bag.Write(Id::idMinFileSize, static_cast<unsigned long long>(kMiB)).IsSuccess());
        EXPECT_TRUE(bag.Write(Id::idExtensionsForDiskCleanup, extensions).IsSuccess());
        return bag;
    }
    // A real file named `name` (so that the checks that open it can), described as `size` bytes
    // (all allocated) last read and written `ageSeconds` before the reference time. `local`
    // overrides the name the item is walked under.
    CItemPtr File(const std::string& name, long long size, long ageSeconds, const std::string& local = "")
    {
        const std::string path = m_dir + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0) << path;
        ::close(fd);
        struct stat status {};
        EXPECT_EQ(::lstat(path.c_str(), &status), 0);
        status.st_size = size;
        status.st_blocks = size / 512;
        status.st_atim.tv_sec = status.st_mtim.tv_sec = kReference - ageSeconds;
        const std::string walked = local.empty() ? path : local;
        return std::make_shared<CFindFirstItem>(walked, walked, status);
    }
};

TEST_F(ArchiveEvaluatorTest, VotesAtTheirBoundaries)
{
    const struct {
        const char* name;
        long long size;
        long age;
        bool selected;
        const char* reason;  // in the refusal reported ("" none reported)
    } cases[] = {
        {"exact.log", kMiB, 30 * kDay, true, ""},
        {"short.log", kMiB - 1, 30 * kDay, false, "size 1048575 < 1048576 min size rule"},
        {"young.log", kMiB, 30 * kDay - 1, false, "accessed 29 days ago  < 30 days atime rule modified 29 days ago"},
        {"UPPER.LOG", kMiB, 40 * kDay, true, ""},
        {"other.txt", kMiB, 40 * kDay, false, "does not match extension rules"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CRecordingEvaluator evaluator("/", CTimeStamp(kReference), Rules(), 100 * kMiB, 4096, nullptr);
        EXPECT_EQ(evaluator.IsSelected(File(c.name, c.size, c.age)), c.selected);
        ASSERT_EQ(evaluator.lines.size(), 1u);
        EXPECT_NE(evaluator.lines[0].find(c.selected ? "Action:[StubbingCandidate]" : c.reason), std::string::npos)
            << evaluator.lines[0];
    }
}

TEST_F(ArchiveEvaluatorTest, LongPathsAndTheQuota)
{
    CRecordingEvaluator evaluator("/", CTimeStamp(kReference), Rules(), 100, 4096, nullptr);
    // A folder name of 960 characters: never a candidate, and nothing to report.
    EXPECT_FALSE(evaluator.IsSelected(File("deep.log", kMiB, 40 * kDay, "/" + std::string(959, 'd') + "/deep.log")));
    EXPECT_TRUE(evaluator.lines.empty());
    // 100 bytes to free: the first file counts in full (its blocks less one), the next finds
    // the quota met.
    EXPECT_TRUE(evaluator.IsSelected(File("first.log", kMiB, 40 * kDay)));
    EXPECT_EQ(evaluator.GetBytesToFree(), 100 - (kMiB - 4096));
    EXPECT_FALSE(evaluator.IsSelected(File("second.log", kMiB, 40 * kDay)));
    EXPECT_EQ(evaluator.lines.size(), 1u);
}

TEST_F(ArchiveEvaluatorTest, ExtensionLists)
{
    CRecordingEvaluator evaluator("/", CTimeStamp(kReference), Rules(""), 100 * kMiB, 4096, nullptr);
    EXPECT_TRUE(evaluator.MatchesExtensions(*File("any.bin", 1, 0)));  // no list: any extension
    const CKxError refused = evaluator.InitExtensionList(" , ,");
    EXPECT_NE(refused.AsString().find("Couldn't parse invalid extension list [ , ,]"), std::string::npos);
    ASSERT_TRUE(evaluator.InitExtensionList("txt, .dat").IsSuccess());
    EXPECT_TRUE(evaluator.MatchesExtensions(*File("a.DAT", 1, 0)));
    EXPECT_FALSE(evaluator.MatchesExtensions(*File("a.log", 1, 0)));
}

}  // namespace
