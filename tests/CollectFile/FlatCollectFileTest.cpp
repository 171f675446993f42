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
// Items as the walk hands them over; `error` set when not 0.
CItemPtr Item(const std::string& path, bool folder, std::uint64_t size, int error)
{
    auto item = std::make_shared<CItem>(path, folder);
    item->SetFileSize(size);
    if (error != 0)
        item->SetErrorNumber(error);
    return item;
}
CItemPtr File(const std::string& path, std::uint64_t size, int error = 0) { return Item(path, false, size, error); }
CItemPtr Folder(const std::string& path, int error = 0) { return Item(path, true, 0, error); }
// A symbolic link, pipe, ... as read from the disk.
CItemPtr Special(const std::string& path, mode_t mode, off_t size)
{
    struct stat st {};
    st.st_mode = mode;
    st.st_size = size;
    return std::make_shared<CFindFirstItem>(path, path, st);
}

void ProcessAll(CItemConsumer& consumer, std::initializer_list<CItemPtr> items)
{
    for (const CItemPtr& item : items)
        ASSERT_TRUE(consumer.Process(item).IsSuccess()) << item->GetLocalFullyQualifiedItemName();
}

// Runs body(t) on `count` threads at once and waits for them.
template <typename Body>
void OnThreads(int count, Body body)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back(body, t);
    for (auto& thread : threads)
        thread.join();
}

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

TEST_F(FlatCollectFileTest, ItemLinesAndCountsWrittenWholeByShortWrites)
{
    // Every write moves at most 7 bytes; the file must still be exact.
    collecttest::ResetFaults(-1, ENOSPC, 7);
    CFlatCollectFile collect(7, Path("Collect1.zvf"), "/");
    collect.File().SetWriteFunction(&collecttest::FaultyWrite);
    ASSERT_TRUE(collect.Open().IsSuccess());
    // The source path is what the backup phase reads, not the local one; a symbolic link is a
    // non-folder: it carries its (link) size.
    auto mapped = std::make_shared<CItem>("/snap/data/b", "/data/b", false);
    mapped->SetFileSize(9);
    ProcessAll(collect, {Folder("/"), Folder("/data"), File("/data/a.txt", 1234), File("/data/empty", 0),
                         File("/data/odd|name\nwith\\", 5), mapped, Special("/data/link", S_IFLNK | 0777, 11)});
    EXPECT_EQ(collect.GetItemCount(), 7u);
    EXPECT_EQ(collect.GetFolderCount(), 2u);
    EXPECT_EQ(collect.GetDataSize(), 1234u + 5 + 9 + 11);
    const std::string expected =
        "/\n/data/\n/data/a.txt|1234\n/data/empty|0\n/data/odd\\x7cname\\x0awith\\\\|5\n/data/b|9\n/data/link|11\n";
    EXPECT_EQ(collect.tellp(), expected.size());
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_EQ(Read(Path("Collect1.zvf")), expected);
    EXPECT_TRUE(collect.Close().IsSuccess()) << "closing twice is harmless";
}

TEST_F(FlatCollectFileTest, RawLinesAppendedFilesAndReopening)
{
    // An appended file bigger than the buffer, and a line longer than it, stay whole and in place.
    std::string other = "??d/gone\n%EXTENT%/big/0:1:2:3:4:5|5\n";
    for (int i = 0; other.size() < 3 * CBufferedFile::kDefaultBufferSize; ++i)
        other += "/big/file" + std::to_string(i) + "|" + std::to_string(i) + "\n";
    Write(Path("other.zvf"), other);
    const std::string longName = "/" + std::string(CBufferedFile::kDefaultBufferSize + 17, 'n');

    CFlatCollectFile collect(1, Path("c.zvf"));
    ASSERT_TRUE(collect.Open().IsSuccess());
    ProcessAll(collect, {File("/first", 1)});
    ASSERT_TRUE(collect.RawWriteItem("/x/y|ignored-suffix-is-not-parsed", 40).IsSuccess());
    ASSERT_TRUE(collect.RawWriteItem("/x/", 0).IsSuccess());
    ASSERT_TRUE(collect.RawWriteItem("/x/z\n", 2).IsSuccess()) << "a given newline is not doubled";
    ASSERT_TRUE(collect.RawAppendFile(Path("other.zvf")).IsSuccess());
    ProcessAll(collect, {File(longName, 3)});
    ASSERT_TRUE(collect.RawWriteLine("??D/removed").IsSuccess());
    EXPECT_EQ(collect.GetItemCount(), 5u) << "appended files and raw lines change no count";
    EXPECT_EQ(collect.GetFolderCount(), 1u);
    EXPECT_EQ(collect.GetDataSize(), 46u);
    ASSERT_TRUE(collect.Close().IsSuccess());
    const std::string first = Read(Path("c.zvf"));
    EXPECT_TRUE(first == "/first|1\n/x/y|ignored-suffix-is-not-parsed\n/x/\n/x/z\n" + other + longName + "|3\n??D/removed\n");
    EXPECT_EQ(collect.tellp(), first.size());

    // Appending keeps the bytes and the counts; truncating starts over.
    ASSERT_TRUE(collect.Open(true).IsSuccess());
    EXPECT_EQ(collect.tellp(), first.size());
    ASSERT_TRUE(collect.RawWriteItem("/more|1", 1).IsSuccess());
    EXPECT_EQ(collect.GetItemCount(), 6u);
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_TRUE(Read(Path("c.zvf")) == first + "/more|1\n");
    ASSERT_TRUE(collect.Open().IsSuccess());
    EXPECT_EQ(collect.tellp(), 0u);
    EXPECT_EQ(collect.GetItemCount(), 0u);
    EXPECT_EQ(collect.GetDataSize(), 0u);
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_EQ(Read(Path("c.zvf")), "");

    EXPECT_TRUE(collect.RawAppendFile(Path("other.zvf")).IsError()) << "writing a closed file";
    CFlatCollectFile missing(1, Path("no/such/folder/c.zvf"));
    CKxError e = missing.Open();
    ASSERT_TRUE(e.IsError());
    EXPECT_NE(e.AsString().find("no/such/folder/c.zvf"), std::string::npos);
    ASSERT_TRUE(collect.Open().IsSuccess());
    EXPECT_TRUE(collect.RawAppendFile(Path("absent")).IsError());
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
    OnThreads(kThreads, [&](int t) {
        for (int i = 0; i < kPerThread; ++i) {
            CKxError e = i % 7 == 0   ? collect.Process(Folder(name(t, i)))
                         : i % 7 == 1 ? collect.RawWriteItem(name(t, i) + "|" + std::to_string(i), i)
                                      : collect.Process(File(name(t, i), i));
            ASSERT_TRUE(e.IsSuccess()) << e.AsString();
        }
    });
    EXPECT_EQ(collect.GetItemCount(), static_cast<std::uint64_t>(kThreads) * kPerThread)
        << "counts follow the items, not the hand-overs";
    ASSERT_TRUE(collect.Close().IsSuccess());

    // Each thread's lines, in the order it wrote them.
    std::map<std::string, std::vector<std::string>> expected, got;
    std::uint64_t expectedSize = 0, expectedFolders = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kPerThread; ++i) {
            const bool folder = i % 7 == 0;
            expected["/w" + std::to_string(t)].push_back(name(t, i) + (folder ? "/" : "|" + std::to_string(i)));
            expectedFolders += folder;
            expectedSize += folder ? 0 : i;
        }
    const std::string content = Read(Path("c.zvf"));
    for (const std::string& line : Lines(content))
        got[line.substr(0, line.find('/', 1))].push_back(line);
    EXPECT_TRUE(got == expected) << "a line lost, torn, doubled or out of its thread's order";
    EXPECT_EQ(collect.GetFolderCount(), expectedFolders);
    EXPECT_EQ(collect.GetDataSize(), expectedSize);
    EXPECT_EQ(collect.tellp(), content.size());
}

TEST_F(FlatCollectFileTest, TellpAndFlushIncludeStagedLines)
{
    CFlatCollectFile collect(1, Path("c.zvf"));
    ASSERT_TRUE(collect.Open().IsSuccess());
    ProcessAll(collect, {Folder("/d")});
    OnThreads(1, [&](int) { ProcessAll(collect, {File("/d/from-other", 4)}); });  // its slot outlives the thread
    ProcessAll(collect, {File("/d/f", 12)});
    EXPECT_EQ(collect.tellp(), std::string("/d/\n/d/from-other|4\n/d/f|12\n").size());
    ASSERT_TRUE(collect.Flush().IsSuccess());
    std::vector<std::string> lines = Lines(Read(Path("c.zvf")));
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()),
              (std::set<std::string>{"/d/", "/d/from-other|4", "/d/f|12"}));

    // A direct write comes after the calling thread's staged lines, and Flush leaves nothing behind.
    ProcessAll(collect, {File("/d/g", 1)});
    ASSERT_TRUE(collect.RawWriteLine("??D/d/h").IsSuccess());
    ProcessAll(collect, {File("/d/i", 2)});
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
        const std::string prefix = "/r" + std::to_string(round) + "/";
        constexpr int kFiles = 11;
        std::vector<std::unique_ptr<CFlatCollectFile>> files;
        for (int f = 0; f < kFiles; ++f) {
            files.push_back(std::make_unique<CFlatCollectFile>(1, Path("f" + std::to_string(f) + ".zvf")));
            ASSERT_TRUE(files.back()->Open().IsSuccess());
        }
        OnThreads(1, [&](int) {
            for (int i = 0; i < 3000; ++i)
                for (auto& file : files)
                    ProcessAll(*file, {File(prefix + std::to_string(i), 1)});
        });
        std::string expected;
        for (int i = 0; i < 3000; ++i)
            expected += prefix + std::to_string(i) + "|1\n";
        for (int f = 0; f < kFiles; ++f) {
            ASSERT_TRUE(files[f]->Close().IsSuccess());
            ASSERT_EQ(Read(Path("f" + std::to_string(f) + ".zvf")), expected) << "file " << f << " round " << round;
        }
        // This thread too, across destroyed files.
        for (int f = 0; f < kFiles; ++f) {
            CFlatCollectFile shortLived(1, Path("s.zvf"));
            ASSERT_TRUE(shortLived.Open().IsSuccess());
            ProcessAll(shortLived, {File("/only" + std::to_string(f), 2)});
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
        accepted += first.IsSuccess();
    }
    ASSERT_TRUE(first.IsError()) << "no hand-over reached the disk";
    EXPECT_EQ(first.Code(), EIO);
    EXPECT_NE(first.AsString().find("eio.zvf"), std::string::npos) << first.AsString();
    EXPECT_GT(accepted * (padding.size() + 10), CBufferedFile::kDefaultBufferSize);
    EXPECT_EQ(collect.GetItemCount(), accepted) << "the item whose hand-over failed is not counted";
    std::atomic<int> refused{0};
    OnThreads(3, [&](int) { refused += collect.Process(File("/later", 1)).Code() == EIO; });
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
    OnThreads(20, [&](int t) {  // 20 slots of about 60 KiB each: more than the buffer
        for (int i = 0; i < 550; ++i)
            ProcessAll(drained, {File("/" + std::to_string(t % 10) + padding + std::to_string(i % 1000), 1)});
    });
    EXPECT_EQ(drained.GetItemCount(), 20u * 550);
    CKxError flushed = drained.Flush();
    EXPECT_EQ(flushed.Code(), ENOSPC);
    EXPECT_NE(flushed.AsString().find("nospc.zvf"), std::string::npos) << flushed.AsString();
    CKxError after = drained.Process(File("/after", 1));
    EXPECT_EQ(after.Code(), ENOSPC);
    EXPECT_NE(after.AsString().find("Failed to write to"), std::string::npos) << after.AsString();
    EXPECT_EQ(drained.Close().Code(), ENOSPC);
}

TEST_F(FlatCollectFileTest, AncestorsAreWrittenOnceHighestFirst)
{
    CFlatCollectFileWithAncestors ancestors(1, Path("anc.zvf"));
    ASSERT_TRUE(ancestors.Open().IsSuccess());
    ProcessAll(ancestors, {File("/a/b/c/x", 10), File("/a/b/c/y", 10), File("/a/b/z", 10), Folder("/a/d/")});
    for (const char* path : {"/a/d/e|odd/f", "/top", "/", "relative"})
        ASSERT_TRUE(ancestors.AddToAncestorList(path).IsSuccess()) << path;
    ASSERT_TRUE(ancestors.Close().IsSuccess());
    EXPECT_EQ(Read(Path("anc.zvf")), "/\n/a/\n/a/b/\n/a/b/c/\n/a/d/\n/a/d/e\\x7codd/\n");
    EXPECT_EQ(ancestors.GetAncestorCount(), 6u);
    EXPECT_EQ(ancestors.GetFolderCount(), 6u);
    EXPECT_EQ(ancestors.GetDataSize(), 0u);

    // From many threads: never repeated, a folder's line always after its parent's.
    CFlatCollectFileWithAncestors shared(1, Path("shared.zvf"));
    ASSERT_TRUE(shared.Open().IsSuccess());
    OnThreads(4, [&](int t) {
        for (int i = 0; i < 5000; ++i) {
            const std::string path = "/r/d" + std::to_string((i + t) % 50) + "/e" + std::to_string(i % 7) + "/f";
            ASSERT_TRUE(shared.AddToAncestorList(path).IsSuccess());
        }
    });
    ASSERT_TRUE(shared.Close().IsSuccess());
    std::vector<std::string> lines = Lines(Read(Path("shared.zvf")));
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());
    EXPECT_EQ(lines.size(), 2u + 50 + 50 * 7);
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        EXPECT_TRUE(line == "/" || seen.contains(line.substr(0, line.rfind('/', line.size() - 2) + 1))) << line;
        seen.insert(line);
    }
}

TEST_F(FlatCollectFileTest, BackupOutConsumerWritesKindPathAndCode)
{
    CBackupOutConsumer failures(3, Path("failed.zvf"));
    ASSERT_TRUE(failures.Open().IsSuccess());
    // The code is 14 when the item has none; anything but a regular file is a "folder".
    ProcessAll(failures, {File("/data/locked", 0, EACCES), Folder("/data/gone"), Folder("/data/dir:with|colon", EIO),
                          Special("/data/pipe", S_IFIFO | 0600, 0)});
    ASSERT_TRUE(failures.RawWriteLine("\tcomment").IsSuccess());
    EXPECT_EQ(failures.getProcessedItemsCount(), 5u);
    ASSERT_TRUE(failures.Close().IsSuccess());
    EXPECT_EQ(Read(Path("failed.zvf")), "file /data/locked:13\nfolder /data/gone:14\nfolder /data/dir:with\\x7ccolon:5\n"
                                        "folder /data/pipe:14\n\tcomment\n");
}
