#include "CollectFile/BackupOutConsumer.h"
#include "CollectFile/FlatCollectFile.h"
#include "CollectFile/FlatCollectFileWithAncestors.h"
#include "CollectTestSupport.h"
#include "Engine/FindFirstItem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

using collecttest::ScratchFilesTest;

namespace {
CItemPtr File(const std::string& path, std::uint64_t size)
{
    auto item = std::make_shared<CItem>(path, false);
    item->SetFileSize(size);
    return item;
}

CItemPtr Folder(const std::string& path) { return std::make_shared<CItem>(path, true); }

std::vector<std::string> Lines(const std::string& content)
{
    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class FlatCollectFileTest : public ScratchFilesTest {
protected:
    void TearDown() override
    {
        collecttest::ResetFaults();
        ScratchFilesTest::TearDown();
    }
};
}  // namespace

TEST_F(FlatCollectFileTest, ItemLinesAndCounts)
{
    CFlatCollectFile collect(7, Path("Collect1.zvf"), "/");
    ASSERT_TRUE(collect.Open().IsSuccess());
    EXPECT_TRUE(collect.IsOpen());
    ASSERT_TRUE(collect.Process(Folder("/")).IsSuccess());
    ASSERT_TRUE(collect.Process(Folder("/data")).IsSuccess());
    ASSERT_TRUE(collect.Process(File("/data/a.txt", 1234)).IsSuccess());
    ASSERT_TRUE(collect.Process(File("/data/empty", 0)).IsSuccess());
    ASSERT_TRUE(collect.Process(File("/data/odd|name\nwith\\", 5)).IsSuccess());
    // The source path is what the backup phase reads, not the local one.
    auto mapped = std::make_shared<CItem>("/snap/data/b", "/data/b", false);
    mapped->SetFileSize(9);
    ASSERT_TRUE(collect.Process(mapped).IsSuccess());
    // A symbolic link is a non-folder: it carries its (link) size.
    struct stat st {};
    st.st_mode = S_IFLNK | 0777;
    st.st_size = 11;
    ASSERT_TRUE(collect.Process(std::make_shared<CFindFirstItem>("/data/link", "/data/link", st)).IsSuccess());

    EXPECT_EQ(collect.GetItemCount(), 7u);
    EXPECT_EQ(collect.GetFolderCount(), 2u);
    EXPECT_EQ(collect.GetDataSize(), 1234u + 5 + 9 + 11);
    const std::string expected =
        "/\n/data/\n/data/a.txt|1234\n/data/empty|0\n/data/odd\\x7cname\\x0awith\\\\|5\n/data/b|9\n/data/link|11\n";
    EXPECT_EQ(collect.tellp(), expected.size());
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_FALSE(collect.IsOpen());
    EXPECT_EQ(Read(Path("Collect1.zvf")), expected);
    EXPECT_TRUE(collect.Close().IsSuccess()) << "closing twice is harmless";
}

TEST_F(FlatCollectFileTest, RawLinesAppendedFilesAndReopening)
{
    const std::string other = Path("other.zvf");
    ASSERT_TRUE(FXFile::WriteFileAtomically(other, "??d/gone\n%EXTENT%/big/0:1:2:3:4:5|5\n").IsSuccess());

    CFlatCollectFile collect(1, Path("c.zvf"));
    ASSERT_TRUE(collect.Open().IsSuccess());
    ASSERT_TRUE(collect.RawWriteItem("/x/y|ignored-suffix-is-not-parsed", 40).IsSuccess());
    ASSERT_TRUE(collect.RawWriteItem("/x/", 0).IsSuccess());
    ASSERT_TRUE(collect.RawWriteItem("/x/z\n", 2).IsSuccess()) << "a given newline is not doubled";
    ASSERT_TRUE(collect.RawAppendFile(other).IsSuccess());
    ASSERT_TRUE(collect.RawWriteLine("??D/removed").IsSuccess());
    EXPECT_EQ(collect.GetItemCount(), 3u) << "appended files and raw lines change no count";
    EXPECT_EQ(collect.GetFolderCount(), 1u);
    EXPECT_EQ(collect.GetDataSize(), 42u);
    ASSERT_TRUE(collect.Close().IsSuccess());
    const std::string first = Read(Path("c.zvf"));
    EXPECT_EQ(first, "/x/y|ignored-suffix-is-not-parsed\n/x/\n/x/z\n??d/gone\n%EXTENT%/big/0:1:2:3:4:5|5\n??D/removed\n");
    EXPECT_EQ(collect.tellp(), first.size());

    // Appending keeps the bytes and the counts; truncating starts over.
    ASSERT_TRUE(collect.Open(true).IsSuccess());
    EXPECT_EQ(collect.tellp(), first.size());
    ASSERT_TRUE(collect.RawWriteItem("/more|1", 1).IsSuccess());
    EXPECT_EQ(collect.GetItemCount(), 4u);
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_EQ(Read(Path("c.zvf")), first + "/more|1\n");
    ASSERT_TRUE(collect.Open().IsSuccess());
    EXPECT_EQ(collect.tellp(), 0u);
    EXPECT_EQ(collect.GetItemCount(), 0u);
    EXPECT_EQ(collect.GetDataSize(), 0u);
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_EQ(Read(Path("c.zvf")), "");

    EXPECT_TRUE(collect.RawAppendFile(other).IsError()) << "writing a closed file";
    CFlatCollectFile missing(1, Path("no/such/folder/c.zvf"));
    CKxError e = missing.Open();
    ASSERT_TRUE(e.IsError());
    EXPECT_NE(e.AsString().find("no/such/folder/c.zvf"), std::string::npos);
    ASSERT_TRUE(collect.Open().IsSuccess());
    EXPECT_TRUE(collect.RawAppendFile(Path("absent")).IsError());
}

TEST_F(FlatCollectFileTest, LargeAppendsAndLinesBeyondTheBufferStayWhole)
{
    // A file bigger than the buffer appended between lines, and a line longer than it.
    std::string big;
    for (int i = 0; big.size() < 3 * CBufferedFile::kDefaultBufferSize; ++i)
        big += "/big/file" + std::to_string(i) + "|" + std::to_string(i) + "\n";
    ASSERT_TRUE(FXFile::WriteFileAtomically(Path("big.zvf"), big).IsSuccess());
    std::string longName = "/" + std::string(CBufferedFile::kDefaultBufferSize + 17, 'n');

    CFlatCollectFile collect(1, Path("c.zvf"));
    ASSERT_TRUE(collect.Open().IsSuccess());
    ASSERT_TRUE(collect.Process(File("/first", 1)).IsSuccess());
    ASSERT_TRUE(collect.RawAppendFile(Path("big.zvf")).IsSuccess());
    ASSERT_TRUE(collect.Process(File(longName, 2)).IsSuccess());
    ASSERT_TRUE(collect.Process(File("/last", 3)).IsSuccess());
    ASSERT_TRUE(collect.Close().IsSuccess());
    const std::string expected = "/first|1\n" + big + longName + "|2\n/last|3\n";
    EXPECT_EQ(Read(Path("c.zvf")), expected);
    EXPECT_EQ(collect.tellp(), expected.size());
}

TEST_F(FlatCollectFileTest, ConcurrentWritersKeepEveryLineWholeOnceAndInThreadOrder)
{
    // More threads than cores, staged and direct writes mixed, lines of many lengths (some
    // beyond a hand-over on their own): every slot hands over many times and Close drains
    // what is left.
    CFlatCollectFile collect(1, Path("c.zvf"));
    ASSERT_TRUE(collect.Open().IsSuccess());
    constexpr int kThreads = 8;
    constexpr int kPerThread = 12000;
    auto name = [](int t, int i) {
        const size_t pad = i % 2999 == 0 ? CFlatCollectFile::kHandOverBytes + 3 : static_cast<size_t>(i % 120);
        return "/w" + std::to_string(t) + "/n" + std::to_string(i) + "_" + std::string(pad, 'a' + t);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                CKxError e = i % 7 == 0   ? collect.Process(Folder(name(t, i)))
                             : i % 7 == 1 ? collect.RawWriteItem(name(t, i) + "|" + std::to_string(i), i)
                                          : collect.Process(File(name(t, i), i));
                ASSERT_TRUE(e.IsSuccess()) << e.AsString();
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(collect.GetItemCount(), static_cast<std::uint64_t>(kThreads) * kPerThread)
        << "counts follow the items, not the hand-overs";
    ASSERT_TRUE(collect.Close().IsSuccess());

    std::multiset<std::string> expected;
    std::uint64_t expectedSize = 0, expectedFolders = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kPerThread; ++i) {
            if (i % 7 == 0) {
                expected.insert(name(t, i) + "/");
                ++expectedFolders;
            } else {
                expected.insert(name(t, i) + "|" + std::to_string(i));
                expectedSize += i;
            }
        }
    const std::string content = Read(Path("c.zvf"));
    std::vector<std::string> lines = Lines(content);
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_TRUE(std::multiset<std::string>(lines.begin(), lines.end()) == expected) << "a line lost, torn or doubled";
    EXPECT_EQ(collect.GetFolderCount(), expectedFolders);
    EXPECT_EQ(collect.GetDataSize(), expectedSize);
    EXPECT_EQ(collect.tellp(), content.size());
    std::map<std::string, int> lastIndex;
    for (const std::string& line : lines) {
        const std::string thread = line.substr(0, line.find('/', 1));
        const int index = std::stoi(line.substr(line.find("/n") + 2));
        auto it = lastIndex.find(thread);
        if (it != lastIndex.end()) {
            ASSERT_LT(it->second, index) << line.substr(0, 40);
        }
        lastIndex[thread] = index;
    }
}

TEST_F(FlatCollectFileTest, TellpAndFlushIncludeStagedLines)
{
    CFlatCollectFile collect(1, Path("c.zvf"));
    ASSERT_TRUE(collect.Open().IsSuccess());
    ASSERT_TRUE(collect.Process(Folder("/d")).IsSuccess());
    std::thread other([&] { ASSERT_TRUE(collect.Process(File("/d/from-other", 4)).IsSuccess()); });
    other.join();  // its slot outlives the thread
    ASSERT_TRUE(collect.Process(File("/d/f", 12)).IsSuccess());
    EXPECT_EQ(collect.tellp(), std::string("/d/\n/d/from-other|4\n/d/f|12\n").size());
    ASSERT_TRUE(collect.Flush().IsSuccess());
    std::vector<std::string> lines = Lines(Read(Path("c.zvf")));
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()),
              (std::set<std::string>{"/d/", "/d/from-other|4", "/d/f|12"}));

    // A direct write comes after the calling thread's staged lines, and Flush leaves nothing behind.
    ASSERT_TRUE(collect.Process(File("/d/g", 1)).IsSuccess());
    ASSERT_TRUE(collect.RawWriteLine("??D/d/h").IsSuccess());
    ASSERT_TRUE(collect.Process(File("/d/i", 2)).IsSuccess());
    ASSERT_TRUE(collect.Flush().IsSuccess());
    const std::string flushed = Read(Path("c.zvf"));
    EXPECT_TRUE(flushed.ends_with("/d/g|1\n??D/d/h\n/d/i|2\n")) << flushed;
    EXPECT_EQ(collect.tellp(), flushed.size());
    EXPECT_EQ(collect.GetItemCount(), 5u);

    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_TRUE(collect.Process(File("/closed", 1)).IsError()) << "a closed file refuses lines";
}

TEST_F(FlatCollectFileTest, AThreadWritingManyFilesKeepsEachFilesLinesAndOrder)
{
    // More files than a thread remembers slots of, and files destroyed and made again: a
    // thread must find its own slot of each and never one of a file that is gone.
    for (int round = 0; round < 3; ++round) {
        constexpr int kFiles = 11;
        std::vector<std::unique_ptr<CFlatCollectFile>> files;
        for (int f = 0; f < kFiles; ++f) {
            files.push_back(std::make_unique<CFlatCollectFile>(1, Path("f" + std::to_string(f) + ".zvf")));
            ASSERT_TRUE(files.back()->Open().IsSuccess());
        }
        std::thread writer([&] {
            for (int i = 0; i < 3000; ++i)
                for (int f = 0; f < kFiles; ++f)
                    ASSERT_TRUE(files[f]->Process(File("/r" + std::to_string(round) + "/" + std::to_string(i), 1)).IsSuccess());
        });
        writer.join();
        for (int f = 0; f < kFiles; ++f) {
            ASSERT_TRUE(files[f]->Close().IsSuccess());
            std::string expected;
            for (int i = 0; i < 3000; ++i)
                expected += "/r" + std::to_string(round) + "/" + std::to_string(i) + "|1\n";
            ASSERT_EQ(Read(Path("f" + std::to_string(f) + ".zvf")), expected) << "file " << f << " round " << round;
        }
        // This thread too, across destroyed files.
        for (int f = 0; f < kFiles; ++f) {
            CFlatCollectFile shortLived(1, Path("s.zvf"));
            ASSERT_TRUE(shortLived.Open().IsSuccess());
            ASSERT_TRUE(shortLived.Process(File("/only" + std::to_string(f), 2)).IsSuccess());
            ASSERT_TRUE(shortLived.Close().IsSuccess());
            ASSERT_EQ(Read(Path("s.zvf")), "/only" + std::to_string(f) + "|2\n");
        }
    }
}

TEST_F(FlatCollectFileTest, AWriteFailureMetAtAHandOverIsReturnedToTheWriters)
{
    // The first write to the disk fails: the buffer takes about 1 MiB, so the failure is met
    // by the Process whose hand-over overflows it, then by every later call on every thread.
    collecttest::ResetFaults(0, EIO);
    CFlatCollectFile collect(1, Path("eio.zvf"));
    collect.File().SetWriteFunction(&collecttest::FaultyWrite);
    ASSERT_TRUE(collect.Open().IsSuccess());
    const std::string padding(100, 'x');
    CKxError first;
    std::uint64_t accepted = 0;
    while (first.IsSuccess() && accepted < 100000) {
        first = collect.Process(File("/a/" + padding + std::to_string(accepted), 1));
        if (first.IsSuccess())
            ++accepted;
    }
    ASSERT_TRUE(first.IsError()) << "no hand-over reached the disk";
    EXPECT_EQ(first.Code(), EIO);
    EXPECT_NE(first.AsString().find("eio.zvf"), std::string::npos) << first.AsString();
    EXPECT_GT(accepted * (padding.size() + 10), CBufferedFile::kDefaultBufferSize);
    EXPECT_EQ(collect.GetItemCount(), accepted) << "the item whose hand-over failed is not counted";

    std::vector<std::thread> threads;
    std::atomic<int> refused{0};
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            CKxError e = collect.Process(File("/later", 1));
            if (e.Code() == EIO)
                ++refused;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(refused.load(), 3);
    EXPECT_EQ(collect.RawWriteItem("/raw|1", 1).Code(), EIO);
    EXPECT_EQ(collect.Flush().Code(), EIO);
    EXPECT_EQ(collect.Close().Code(), EIO);
    EXPECT_EQ(collect.GetItemCount(), accepted);

    // Lines that are all still staged (no slot reached a hand-over) meet the failure at the
    // drain, after a first write went through: Flush returns it, and every later call.
    collecttest::ResetFaults(1, ENOSPC);
    CFlatCollectFile drained(1, Path("nospc.zvf"));
    drained.File().SetWriteFunction(&collecttest::FaultyWrite);
    ASSERT_TRUE(drained.Open().IsSuccess());
    threads.clear();
    for (int t = 0; t < 20; ++t)  // 20 slots of about 60 KiB each: more than the buffer
        threads.emplace_back([&, t] {
            for (int i = 0; i < 550; ++i)
                ASSERT_TRUE(drained.Process(File("/" + std::to_string(t % 10) + padding + std::to_string(i % 1000), 1)).IsSuccess());
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(drained.GetItemCount(), 20u * 550);
    CKxError flushed = drained.Flush();
    ASSERT_TRUE(flushed.IsError());
    EXPECT_EQ(flushed.Code(), ENOSPC);
    EXPECT_NE(flushed.AsString().find("nospc.zvf"), std::string::npos) << flushed.AsString();
    CKxError after = drained.Process(File("/after", 1));
    EXPECT_EQ(after.Code(), ENOSPC);
    EXPECT_NE(after.AsString().find("Failed to write to"), std::string::npos) << after.AsString();
    EXPECT_EQ(drained.Close().Code(), ENOSPC);
}

TEST_F(FlatCollectFileTest, ShortWritesAreCompleted)
{
    // Every write moves at most 7 bytes; the file must still be exact.
    collecttest::ResetFaults(-1, ENOSPC, 7);
    CFlatCollectFile collect(1, Path("short.zvf"));
    collect.File().SetWriteFunction(&collecttest::FaultyWrite);
    ASSERT_TRUE(collect.Open().IsSuccess());
    ASSERT_TRUE(collect.Process(File("/a/b", 3)).IsSuccess());
    ASSERT_TRUE(collect.Flush().IsSuccess());
    ASSERT_TRUE(collect.Process(Folder("/a")).IsSuccess());
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_EQ(Read(Path("short.zvf")), "/a/b|3\n/a/\n");
}

TEST_F(FlatCollectFileTest, AncestorsAreWrittenOnceHighestFirst)
{
    CFlatCollectFileWithAncestors ancestors(1, Path("anc.zvf"));
    ASSERT_TRUE(ancestors.Open().IsSuccess());
    ASSERT_TRUE(ancestors.Process(File("/a/b/c/x", 10)).IsSuccess());
    ASSERT_TRUE(ancestors.Process(File("/a/b/c/y", 10)).IsSuccess());
    ASSERT_TRUE(ancestors.Process(File("/a/b/z", 10)).IsSuccess());
    ASSERT_TRUE(ancestors.Process(Folder("/a/d/")).IsSuccess());
    ASSERT_TRUE(ancestors.AddToAncestorList("/a/d/e|odd/f").IsSuccess());
    ASSERT_TRUE(ancestors.AddToAncestorList("/top").IsSuccess());
    ASSERT_TRUE(ancestors.AddToAncestorList("/").IsSuccess());
    ASSERT_TRUE(ancestors.AddToAncestorList("relative").IsSuccess());
    ASSERT_TRUE(ancestors.Close().IsSuccess());
    EXPECT_EQ(Read(Path("anc.zvf")), "/\n/a/\n/a/b/\n/a/b/c/\n/a/d/\n/a/d/e\\x7codd/\n");
    EXPECT_EQ(ancestors.GetAncestorCount(), 6u);
    EXPECT_EQ(ancestors.GetFolderCount(), 6u);
    EXPECT_EQ(ancestors.GetDataSize(), 0u);
}

TEST_F(FlatCollectFileTest, AncestorsFromManyThreadsAreNeverRepeated)
{
    CFlatCollectFileWithAncestors ancestors(1, Path("anc.zvf"));
    ASSERT_TRUE(ancestors.Open().IsSuccess());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                const std::string path = "/r/d" + std::to_string((i + t) % 50) + "/e" + std::to_string(i % 7) + "/f";
                ASSERT_TRUE(ancestors.AddToAncestorList(path).IsSuccess());
            }
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(ancestors.Close().IsSuccess());
    std::vector<std::string> lines = Lines(Read(Path("anc.zvf")));
    std::set<std::string> unique(lines.begin(), lines.end());
    EXPECT_EQ(unique.size(), lines.size());
    EXPECT_EQ(lines.size(), 2u + 50 + 50 * 7);
    // A folder's line always comes after its parent's.
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        if (line != "/") {
            std::string parent = line.substr(0, line.rfind('/', line.size() - 2) + 1);
            EXPECT_TRUE(seen.contains(parent)) << line;
        }
        seen.insert(line);
    }
}

TEST_F(FlatCollectFileTest, BackupOutConsumerWritesKindPathAndCode)
{
    CBackupOutConsumer failures(3, Path("failed.zvf"));
    ASSERT_TRUE(failures.Open().IsSuccess());
    auto unreadable = File("/data/locked", 0);
    unreadable->SetErrorNumber(EACCES);
    ASSERT_TRUE(failures.Process(unreadable).IsSuccess());
    ASSERT_TRUE(failures.Process(Folder("/data/gone")).IsSuccess());  // no bag: code 14
    auto folder = Folder("/data/dir:with|colon");
    folder->SetErrorNumber(EIO);
    ASSERT_TRUE(failures.Process(folder).IsSuccess());
    struct stat st {};
    st.st_mode = S_IFIFO | 0600;
    ASSERT_TRUE(failures.Process(std::make_shared<CFindFirstItem>("/data/pipe", "/data/pipe", st)).IsSuccess());
    ASSERT_TRUE(failures.RawWriteLine("\tcomment").IsSuccess());
    EXPECT_EQ(failures.getProcessedItemsCount(), 5u);
    ASSERT_TRUE(failures.Close().IsSuccess());
    EXPECT_EQ(Read(Path("failed.zvf")), "file /data/locked:13\nfolder /data/gone:14\nfolder /data/dir:with\\x7ccolon:5\n"
                                        "folder /data/pipe:14\n\tcomment\n");
}
