#include "Base/BackgroundRemover.h"
#include "Base/FXFile.h"
#include "Base/ScratchFolderTest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {
class BackgroundRemoverTest : public ScratchFolderTest {
protected:
    std::string MakeFile(const std::string& name, off_t bytes)
    {
        const std::string path = m_dir + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0) << path;
        EXPECT_EQ(::ftruncate(fd, bytes), 0);
        ::close(fd);
        return path;
    }
    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        EXPECT_TRUE(FXFile::ListMatchingFiles(m_dir, "*", names).IsSuccess());
        std::vector<std::string> hidden;
        EXPECT_TRUE(FXFile::ListMatchingFiles(m_dir, ".*", hidden).IsSuccess());
        names.insert(names.end(), hidden.begin(), hidden.end());
        return names;
    }
};
}  // namespace

// Around the size threshold: a large file's name goes at once and the file is gone after Drain;
// a small one, a missing one and a hidden leftover of an earlier process are handled in the call
// or queued as they are.
TEST_F(BackgroundRemoverTest, NamesGoAtOnceAndEverythingIsGoneAfterDrain)
{
    CBackgroundRemover& remover = CBackgroundRemover::Instance();
    const std::string large = MakeFile("CollectTot1.zvf", CBackgroundRemover::kBackgroundBytes);
    const std::string small = MakeFile("split_config", CBackgroundRemover::kBackgroundBytes - 1);
    const std::string leftover = MakeFile(".DCTmp.zvf.removing-1-1", 10);
    ASSERT_TRUE(remover.Remove(large).IsSuccess());
    EXPECT_FALSE(FXFile::Exists(large));
    ASSERT_TRUE(remover.Remove(small).IsSuccess());
    EXPECT_FALSE(FXFile::Exists(small));
    ASSERT_TRUE(remover.Remove(leftover).IsSuccess());
    EXPECT_TRUE(remover.Remove(m_dir + "/never-there").IsSuccess());
    EXPECT_TRUE(remover.Drain().IsSuccess());
    EXPECT_TRUE(Names().empty());
}

// The clean-up list's removal goes through the remover: matching names in that folder vanish,
// others stay, and no hidden copy is left.
TEST_F(BackgroundRemoverTest, DeleteMatchingFilesLeavesNoHiddenCopies)
{
    ASSERT_EQ(::mkdir((m_dir + "/sub").c_str(), 0755), 0);
    MakeFile("CollectTot1.zvf", 3 << 20);
    MakeFile("CollectTot22.zvf", 5);
    MakeFile("CollectInc1.zvf", 5);
    MakeFile("DCTot.zvf", 3 << 20);
    MakeFile("sub/CollectTot3.zvf", 5);
    size_t deleted = 0;
    ASSERT_TRUE(FXFile::DeleteMatchingFiles(m_dir, "CollectTot*.zvf", &deleted).IsSuccess());
    EXPECT_EQ(deleted, 2u);
    ASSERT_TRUE(CBackgroundRemover::Instance().Drain().IsSuccess());
    std::vector<std::string> names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"CollectInc1.zvf", "DCTot.zvf", "sub"}));
    EXPECT_TRUE(FXFile::Exists(m_dir + "/sub/CollectTot3.zvf"));
    EXPECT_TRUE(FXFile::DeleteMatchingFiles(m_dir + "/missing", "*").IsSuccess());
}

// A file the worker cannot unlink is reported once by the next Drain, with its path.
TEST_F(BackgroundRemoverTest, FailedUnlinkIsReportedByDrain)
{
    const std::string folder = m_dir + "/.stuck.removing-7-1";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(CBackgroundRemover::Instance().Remove(folder).IsSuccess());
    const CKxError failed = CBackgroundRemover::Instance().Drain();
    ASSERT_TRUE(failed.IsError());
    EXPECT_NE(failed.Message().find(folder), std::string::npos) << failed.AsString();
    EXPECT_TRUE(CBackgroundRemover::Instance().Drain().IsSuccess());
}

TEST_F(BackgroundRemoverTest, ManyThreadsRemovingAtOnce)
{
    constexpr int kThreads = 4;
    constexpr int kFilesEach = 25;
    std::vector<std::string> paths;
    for (int i = 0; i < kThreads * kFilesEach; ++i)
        paths.push_back(MakeFile("f" + std::to_string(i), CBackgroundRemover::kBackgroundBytes));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFilesEach; ++i)
                EXPECT_TRUE(CBackgroundRemover::Instance().Remove(paths[t * kFilesEach + i]).IsSuccess());
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(CBackgroundRemover::Instance().Drain().IsSuccess());
    EXPECT_TRUE(Names().empty());
}
