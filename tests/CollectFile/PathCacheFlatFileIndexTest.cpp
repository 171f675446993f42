#include "CollectFile/DirChangeChunkReader.h"
#include "CollectFile/DirChangeFileLayout.h"
#include "CollectFile/FlatDirChangeFile.h"
#include "CollectFile/PathCacheFlatFileIndexBuffer.h"
#include "CollectTestSupport.h"
#include "DirChangeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <map>
#include <thread>

using collecttest::ScratchFilesTest;
using namespace dctest;

namespace {
const FXCodeLocation kHere = FXCodeLocation::Here();

// Every (path, kind) of a closed file with its record text, read back through the comparison
// of the file with itself.
std::map<std::string, std::string> Contents(const std::string& path)
{
    CRecordingCallback callback;
    CKxError compared = CPathCacheFlatFileIndex::Compare(path, path, callback, 0, std::make_shared<CTextParser>(),
                                                         std::make_shared<CTextParser>());
    EXPECT_TRUE(compared.IsSuccess()) << compared.AsString();
    std::map<std::string, std::string> contents;
    for (const auto& entry : callback.entries) {
        EXPECT_EQ(entry.side, 'B') << entry.path;
        EXPECT_EQ(entry.first, entry.second) << entry.path;
        EXPECT_TRUE(contents.emplace((entry.isFile ? "F " : "D ") + entry.path, entry.first).second)
            << "reported twice: " << entry.path;
    }
    return contents;
}

std::string Found(CPathCacheFlatFileIndex& index, const std::string& path, IDirChange::EKind kind,
                  bool current = false)
{
    FVBasePtr record;
    const bool found = current ? index.LookupCurrent(path, kind, &record) : index.Lookup(path, kind, &record);
    return found ? TextOf(record) : "<not found>";
}
}  // namespace

class PathCacheFlatFileIndexTest : public ScratchFilesTest {};

TEST(DirChangeHashTest, PiecesCutAnywhereHashAsTheWhole)
{
    std::string bytes;
    for (int i = 0; i < 67; ++i)
        bytes.push_back(static_cast<char>(i * 37 + 11));
    for (size_t length : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{16}, size_t{67}}) {
        const std::string_view whole = std::string_view(bytes).substr(0, length);
        for (size_t cut1 = 0; cut1 <= length; ++cut1)
            for (size_t cut2 = cut1; cut2 <= length; cut2 += 3) {
                DirChangeFileLayout::CHash64Stream stream;
                stream.Update(whole.substr(0, cut1));
                stream.Update(whole.substr(cut1, cut2 - cut1));
                stream.Update(whole.substr(cut2));
                ASSERT_EQ(stream.Final(), DirChangeFileLayout::Hash64(whole)) << length << " " << cut1 << " " << cut2;
            }
    }
    // The length counts: a word of zeros is not the same as no word.
    EXPECT_NE(DirChangeFileLayout::Hash64(std::string(8, '\0')), DirChangeFileLayout::Hash64(""));
}

// Chunk references come sorted as the closing index wants them whatever runs they stand in.
TEST(DirChangeLayoutTest, ChunkReferencesSortAsTheIndexWantsFromAnyRuns)
{
    std::vector<DirChangeFileLayout::SChunkRef> refs(900);
    CChunkNameArena names;
    for (size_t i = 0; i < refs.size(); ++i) {
        refs[i].folder = names.Add("/t/" + std::to_string(i % 300) + (i % 7 == 0 ? "/sub" : ""));
        refs[i].offset = (i * 7919) % 1000;
    }
    auto sorted = [](std::vector<const DirChangeFileLayout::SChunkRef*> v) {
        std::sort(v.begin(), v.end(), [](auto* a, auto* b) { return DirChangeFileLayout::ChunkRefLess(*a, *b); });
        return v;
    };
    std::vector<const DirChangeFileLayout::SChunkRef*> all;
    for (const auto& ref : refs)
        all.push_back(&ref);
    const auto expected = sorted(all);
    const auto scattered = [&](size_t from, size_t count) {
        return std::vector<const DirChangeFileLayout::SChunkRef*>(all.begin() + static_cast<long>(from),
                                                                 all.begin() + static_cast<long>(from + count));
    };
    // Shapes: all unsorted; one long run after a few strays; two long runs and strays between.
    std::vector<std::vector<const DirChangeFileLayout::SChunkRef*>> shapes = {all};
    {
        auto strays = scattered(0, 40);
        auto run = sorted(scattered(40, 860));
        strays.insert(strays.end(), run.begin(), run.end());
        shapes.push_back(strays);
        auto first = sorted(scattered(0, 400));
        auto second = sorted(scattered(420, 480));
        auto between = scattered(400, 20);
        first.insert(first.end(), between.begin(), between.end());
        first.insert(first.end(), second.begin(), second.end());
        shapes.push_back(first);
    }
    for (size_t i = 0; i < shapes.size(); ++i) {
        DirChangeFileLayout::SortChunkRefs(shapes[i]);
        EXPECT_EQ(shapes[i], expected) << "shape " << i;
    }
}

// Kept folders: their chunks reach the current file at the next hand-over, those of the
// sub-folders on the way down excepted; carried or unknown folders cannot be kept.
TEST_F(PathCacheFlatFileIndexTest, KeptChunksAreCopiedButTheWayDownAndOnlyReadFoldersCanBeKept)
{
    auto older = MakeIndex(Path("older"));
    ASSERT_TRUE(older->AddItem("/r/d/f6", Rec("|6"), true).IsSuccess());
    ASSERT_TRUE(older->Close().IsSuccess());
    auto previous = MakeIndex(Path("prev"), Path("older"));
    for (const char* folder : {"/r", "/r/a", "/r/a/x", "/r/b", "/r/c", "/r/d"})
        ASSERT_TRUE(previous->AddItem(folder, Rec("|d"), false).IsSuccess());
    for (const char* file : {"/r/f1", "/r/a/f2", "/r/a/x/f3", "/r/b/f4", "/r/c/f5"})
        ASSERT_TRUE(previous->AddItem(file, Rec("|f"), true).IsSuccess());
    ASSERT_TRUE(previous->CarryForward("/r/d").IsSuccess());
    ASSERT_TRUE(previous->Close().IsSuccess());

    auto index = MakeIndex(Path("cur"), Path("prev"));
    const std::pair<const char*, bool> canKeep[] = {{"/r", true}, {"/r/a/", true}, {"/r/d", false}, {"/r/zz", false}};
    for (const auto& [folder, expected] : canKeep)
        EXPECT_EQ(index->CanKeepEntriesOf(folder), expected) << folder;
    ASSERT_TRUE(index->AddItem("/r/a/x/new", Rec("|n"), true).IsSuccess());
    // Written before the kept copy, and still winning over it.
    ASSERT_TRUE(index->AddItem("/r/a/f2", Rec("|again"), true).IsSuccess());
    ASSERT_TRUE(index->FlushPending().IsSuccess());
    index->KeepAllBut("/r/a", {"x", "not-there"});
    index->KeepUnchanged("/r/c/");
    ASSERT_TRUE(index->Close().IsSuccess());
    // Kept entries are found as if recorded (the comparison of a file with itself is silent
    // about them).
    auto next = MakeIndex(Path("next"), Path("cur"));
    const std::pair<const char*, const char*> found[] = {
        {"/r/a/x", "|d"},     {"/r/a/f2", "|again"},    {"/r/a/x/new", "|n"}, {"/r/c/f5", "|f"},
        {"/r/f1", "<not found>"}, {"/r/a/x/f3", "<not found>"}, {"/r/b/f4", "<not found>"}};
    for (const auto& [path, text] : found)
        EXPECT_EQ(Found(*next, path, path == std::string("/r/a/x") ? IDirChange::eFolder : IDirChange::eFile), text)
            << path;
    // Kept once more, the newer entry still wins over the older one beside it. Against the file
    // it kept from, only what the job wrote beside the copies is new: folders of kept copies
    // alone pass unread, one with a chunk of the job's is compared entry by entry.
    next->KeepUnchanged("/r");
    ASSERT_TRUE(next->AddItem("/r/a/g", Rec("|g"), true).IsSuccess());
    ASSERT_TRUE(next->Close().IsSuccess());
    EXPECT_EQ(Found(*MakeIndex(Path("third"), Path("next")), "/r/a/f2", IDirChange::eFile), "|again");
    CRecordingCallback changes;
    const auto parser = std::make_shared<CTextParser>();
    ASSERT_TRUE(CPathCacheFlatFileIndex::Compare(Path("cur"), Path("next"), changes, 0, parser, parser).IsSuccess());
    EXPECT_EQ(changes.calls, std::vector<std::string>{"new F /r/a/g |g"});
}

TEST_F(PathCacheFlatFileIndexTest, OddNamesAndBothKindsOfOneNameRoundTrip)
{
    const std::vector<std::pair<std::string, bool>> items = {
        {"/", false},           {"/t", false},          {"/t/sp ace", true},     {"/t/new\nline", true},
        {"/t/pi|pe", true},     {"/t/back\\slash", true}, {"/t/\xff\xfe bad", true}, {"/t/a", false},
        {"/t/a/b", true},       {"/t/a!b", false},      {"/t/a!b/c", true},      {"/t/dup", false},
        {"/t/dup", true},       {"/t/\x01\x7f", false}, {"/t/\x01\x7f/x\\x41", true}};
    auto index = MakeIndex(Path("cur"));
    CPathCacheFlatFileIndexBuffer buffer(index);
    std::map<std::string, std::string> expected;
    int n = 0;
    for (const auto& [path, isFile] : items) {
        ++n;
        const std::string text = "|<IS>" + std::to_string(n % 2) + "|<CI>" + std::to_string(n);
        ASSERT_TRUE((isFile ? buffer.AddFile(path, kHere, "test", Rec(text))
                            : buffer.AddFolder(path, kHere, "test", Rec(text)))
                        .IsSuccess());
        expected[(isFile ? "F " : "D ") + path] = text;
    }
    ASSERT_TRUE(buffer.CloseFile().IsSuccess());
    ASSERT_TRUE(index->Close().IsSuccess());
    EXPECT_EQ(Contents(Path("cur")), expected);

    auto next = MakeIndex(Path("next"), Path("cur"));
    for (const auto& [path, isFile] : items) {
        const auto kind = isFile ? IDirChange::eFile : IDirChange::eFolder;
        EXPECT_EQ(Found(*next, path, kind), expected[(isFile ? "F " : "D ") + path]) << path;
        // With a trailing '/' too, as walkers sometimes hand folders over.
        if (!isFile && path != "/") {
            EXPECT_TRUE(next->Lookup(path + "/", kind)) << path;
        }
    }
    EXPECT_FALSE(next->Lookup("/t/sp ace", IDirChange::eFolder));
    EXPECT_FALSE(next->Lookup("/t/a", IDirChange::eFile));
    EXPECT_FALSE(next->Lookup("/t/sp", IDirChange::eFile));
    EXPECT_FALSE(next->Lookup("/nowhere/x", IDirChange::eFile));
    EXPECT_FALSE(next->Lookup("", IDirChange::eFolder));
}

TEST_F(PathCacheFlatFileIndexTest, LaterEntriesWinAcrossAddsFlushesThreadsAndBuffers)
{
    auto index = MakeIndex(Path("cur"));
    auto first = std::make_shared<CPathCacheFlatFileIndexBuffer>(index);
    auto second = std::make_shared<CPathCacheFlatFileIndexBuffer>(index);
    // One thread, one folder group: the second add of a (path, kind) replaces the first.
    ASSERT_TRUE(first->AddFile("/d/x", kHere, "t", Rec("|1")).IsSuccess());
    ASSERT_TRUE(first->AddFile("/d/y", kHere, "t", Rec("|y")).IsSuccess());
    ASSERT_TRUE(first->AddFile("/d/x", kHere, "t", Rec("|2")).IsSuccess());
    // One thread, the folder left and entered again: two groups of /d in one hand-over.
    for (const char* folder : {"/e", "/f", "/g", "/h"})
        ASSERT_TRUE(first->AddFile(std::string(folder) + "/1", kHere, "t", Rec("|x")).IsSuccess());
    ASSERT_TRUE(first->AddFile("/d/y", kHere, "t", Rec("|y2")).IsSuccess());
    EXPECT_EQ(Found(*index, "/d/x", IDirChange::eFile, true), "<not found>");  // still staged
    ASSERT_TRUE(first->FlushBuffer().IsSuccess());
    EXPECT_EQ(Found(*index, "/d/x", IDirChange::eFile, true), "|2");
    EXPECT_EQ(Found(*index, "/d/y", IDirChange::eFile, true), "|y2");

    // Another thread through another buffer, after the first flush: a later chunk of /d. The
    // lookup cache must not answer from the folder as it was loaded before.
    std::thread([&] {
        EXPECT_TRUE(second->AddFile("/d/x", kHere, "t", Rec("|3")).IsSuccess());
        EXPECT_TRUE(second->AddFolder("/d", kHere, "t", Rec("|dir")).IsSuccess());
    }).join();
    ASSERT_TRUE(second->FlushBuffer().IsSuccess());
    EXPECT_EQ(Found(*index, "/d/x", IDirChange::eFile, true), "|3");
    EXPECT_EQ(Found(*index, "/d/y", IDirChange::eFile, true), "|y2");
    EXPECT_GE(index->GetCurrentChunkCount(), 3u);

    // A folder much larger than one hand-over is split into several chunks.
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(first->AddFile("/big/" + std::string(20, 'n') + std::to_string(i), kHere, "t", Rec("|b")).IsSuccess());
    ASSERT_TRUE(first->AddFile("/big/" + std::string(20, 'n') + "7", kHere, "t", Rec("|last")).IsSuccess());
    ASSERT_TRUE(first->CloseFile().IsSuccess());
    ASSERT_TRUE(second->CloseFile().IsSuccess());
    ASSERT_TRUE(index->Close().IsSuccess());

    auto contents = Contents(Path("cur"));
    EXPECT_EQ(contents.size(), 20000u + 7u);  // the re-added "...7" replaced its first entry
    EXPECT_EQ(contents["F /d/x"], "|3");
    EXPECT_EQ(contents["D /d"], "|dir");
    EXPECT_EQ(contents["F /big/" + std::string(20, 'n') + "7"], "|last");
    auto next = MakeIndex(Path("next"), Path("cur"));
    EXPECT_EQ(Found(*next, "/big/" + std::string(20, 'n') + "7", IDirChange::eFile), "|last");
    EXPECT_EQ(Found(*next, "/big/" + std::string(20, 'n') + "19999", IDirChange::eFile), "|b");
}

TEST_F(PathCacheFlatFileIndexTest, FourThreadsAddConcurrentlyAndEveryEntryIsReadBack)
{
    constexpr int kThreads = 4;
    constexpr int kFolders = 40;
    constexpr int kFilesPerFolder = 250;
    auto index = MakeIndex(Path("cur"));
    auto buffer = std::make_shared<CPathCacheFlatFileIndexBuffer>(index);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int f = 0; f < kFolders; ++f) {
                const std::string folder = "/src/t" + std::to_string(t) + "/f" + std::to_string(f);
                EXPECT_TRUE(buffer->AddFolder(folder, kHere, "t", Rec("|folder")).IsSuccess());
                for (int i = 0; i < kFilesPerFolder; ++i)
                    EXPECT_TRUE(buffer->AddFile(folder + "/file-with-a-longer-name-" + std::to_string(i), kHere, "t",
                                                Rec("|<CI>" + std::to_string(t * 1000 + i)))
                                    .IsSuccess());
            }
        });
    // Lookups of the current file while the writers hand chunks over.
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i)
            (void)index->LookupCurrent("/src/t0/f0/file-with-a-longer-name-1", IDirChange::eFile);
    });
    for (auto& thread : threads)
        thread.join();
    reader.join();
    ASSERT_TRUE(buffer->CloseFile().IsSuccess());
    ASSERT_TRUE(index->Close().IsSuccess());
    EXPECT_EQ(index->GetCurrentEntryCount(), std::uint64_t{kThreads} * kFolders * (kFilesPerFolder + 1));

    auto contents = Contents(Path("cur"));
    ASSERT_EQ(contents.size(), std::size_t{kThreads} * kFolders * (kFilesPerFolder + 1));
    auto next = MakeIndex(Path("next"), Path("cur"));
    std::vector<std::thread> lookups;
    std::atomic<int> misses{0};
    for (int t = 0; t < kThreads; ++t)
        lookups.emplace_back([&, t] {
            for (int f = 0; f < kFolders; ++f)
                for (int i = 0; i < kFilesPerFolder; ++i) {
                    FVBasePtr record;
                    const std::string path = "/src/t" + std::to_string((t + f) % kThreads) + "/f" + std::to_string(f) +
                                             "/file-with-a-longer-name-" + std::to_string(i);
                    if (!next->Lookup(path, IDirChange::eFile, &record) ||
                        TextOf(record) != "|<CI>" + std::to_string(((t + f) % kThreads) * 1000 + i))
                        ++misses;
                }
        });
    for (auto& thread : lookups)
        thread.join();
    EXPECT_EQ(misses.load(), 0);
}

TEST_F(PathCacheFlatFileIndexTest, EmptyRecordsIncludeFilesAndDirectAdds)
{
    auto index = MakeIndex(Path("cur"));
    index->SetIncludeFiles(false);
    EXPECT_FALSE(index->IsIncludeFiles());
    CPathCacheFlatFileIndexBuffer buffer(index);
    ASSERT_TRUE(buffer.AddFolder("/k", kHere, "t", Rec("")).IsSuccess());
    ASSERT_TRUE(buffer.AddFile("/k/dropped", kHere, "t", Rec("|x")).IsSuccess());
    ASSERT_TRUE(buffer.FlushBuffer().IsSuccess());
    index->SetIncludeFiles(true);
    ASSERT_TRUE(index->AddItem("/k/direct", Rec("|d"), true).IsSuccess());
    // AddItem's entries are staged until the resource's compaction hands them over.
    EXPECT_FALSE(index->LookupCurrent("/k/direct", IDirChange::eFile));
    CFlatDirChangeFile resource(index);
    ASSERT_TRUE(resource.Compact(true).IsSuccess());
    ASSERT_TRUE(resource.Compact(true).IsSuccess());
    EXPECT_TRUE(index->LookupCurrent("/k/direct", IDirChange::eFile));
    ASSERT_TRUE(index->AddItem("/k/at-close", Rec("|c"), true).IsSuccess());
    ASSERT_TRUE(index->Close().IsSuccess());
    EXPECT_EQ(Contents(Path("cur")),
              (std::map<std::string, std::string>{{"D /k", ""}, {"F /k/direct", "|d"}, {"F /k/at-close", "|c"}}));

    // Empty record text: a record object unless the index is told to avoid loading them.
    auto next = MakeIndex(Path("next"), Path("cur"));
    EXPECT_EQ(Found(*next, "/k", IDirChange::eFolder), "");
    auto avoiding = MakeIndex(Path("next2"), Path("cur"));
    avoiding->SetAvoidLoadingEmptyItemInfo(true);
    EXPECT_EQ(Found(*avoiding, "/k", IDirChange::eFolder), "<null>");
    EXPECT_FALSE(avoiding->Lookup("/k/dropped", IDirChange::eFile));
}

TEST_F(PathCacheFlatFileIndexTest, BadArgumentsAndClosedFilesAreRefused)
{
    auto index = MakeIndex(Path("cur"));
    CPathCacheFlatFileIndexBuffer buffer(index);
    EXPECT_EQ(buffer.AddFile("", kHere, "t", Rec("|x")).Code(), KxCode::InvalidParameter);
    CKxError newline = buffer.AddFile("/a/b", kHere, "Caller", Rec("|x\n"));
    EXPECT_EQ(newline.Code(), KxCode::InvalidParameter);
    EXPECT_NE(newline.AsString().find("Caller"), std::string::npos) << newline.AsString();
    EXPECT_EQ(buffer.AddFile("/a/b", kHere, "t", Rec("no-bar")).Code(), KxCode::InvalidParameter);
    ASSERT_TRUE(buffer.AddFile("/a/b", kHere, "t", Rec("|ok")).IsSuccess());
    ASSERT_TRUE(buffer.CloseFile().IsSuccess());
    EXPECT_EQ(buffer.AddFile("/a/c", kHere, "t", Rec("|late")).Code(), 6);
    // Entries a buffer still stages when the index closes would be lost: refused.
    CPathCacheFlatFileIndexBuffer late(index);
    ASSERT_TRUE(late.AddFile("/a/d", kHere, "t", Rec("|late")).IsSuccess());
    ASSERT_TRUE(index->Close().IsSuccess());
    ASSERT_TRUE(index->Close().IsSuccess());
    EXPECT_TRUE(index->IsClosed());
    EXPECT_EQ(late.FlushBuffer().Code(), 6);
    EXPECT_EQ(late.AddFile("/a/e", kHere, "t", Rec("|late")).Code(), 6);
    EXPECT_EQ(index->AddItem("/a/e", Rec("|late"), true).Code(), 6);
    EXPECT_TRUE(index->LookupCurrent("/a/b", IDirChange::eFile));

    CPathCacheFlatFileIndex unopened;
    CKxError missing = unopened.SetCurrentBackingFile(Path("no/such/folder/cur"), nullptr);
    EXPECT_EQ(missing.Code(), ENOENT);
    EXPECT_NE(missing.AsString().find(Path("no/such/folder/cur")), std::string::npos);
    EXPECT_EQ(unopened.Close().Code(), 6);
}


TEST_F(PathCacheFlatFileIndexTest, BackgroundCloseRefusesAddsAtOnceAndCloseReportsItsOutcome)
{
    auto index = MakeIndex(Path("bg"));
    CPathCacheFlatFileIndexBuffer buffer(index);
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(buffer.AddFile("/d" + std::to_string(i % 7) + "/f" + std::to_string(i), kHere, "t", Rec("|v"))
                        .IsSuccess());
    ASSERT_TRUE(buffer.CloseFile().IsSuccess());
    ASSERT_TRUE(index->AddItem("/d0/direct", Rec("|w"), true).IsSuccess());  // still staged
    index->BeginClose();
    index->BeginClose();
    // Refused from the start, not only once the closing index is written.
    EXPECT_TRUE(index->IsClosed());
    EXPECT_EQ(index->AddItem("/d0/late", Rec("|late"), true).Code(), 6);
    ASSERT_TRUE(index->Close().IsSuccess());
    ASSERT_TRUE(index->Close().IsSuccess());
    const auto contents = Contents(Path("bg"));
    EXPECT_EQ(contents.size(), 2001u);
    EXPECT_EQ(contents.count("F /d0/direct"), 1u);
    EXPECT_EQ(contents.count("F /d0/late"), 0u);

    // The closing index cannot be written: Close returns that failure, naming the file.
    collecttest::ResetFaults(-1, ENOSPC);
    auto failing = std::make_shared<CPathCacheFlatFileIndex>();
    failing->SetWriteFunction(collecttest::FaultyPwrite);
    ASSERT_TRUE(failing->SetCurrentBackingFile(Path("bgfail"), nullptr).IsSuccess());
    ASSERT_TRUE(failing->AddItem("/a/b", Rec("|v"), true).IsSuccess());
    collecttest::ResetFaults(0, ENOSPC);
    failing->BeginClose();
    CKxError closed = failing->Close();
    collecttest::ResetFaults();
    EXPECT_EQ(closed.Code(), ENOSPC);
    EXPECT_NE(closed.AsString().find(Path("bgfail")), std::string::npos) << closed.AsString();

    // Destroyed while closing in the background: the thread is waited for.
    auto dropped = MakeIndex(Path("bgdrop"));
    ASSERT_TRUE(dropped->AddItem("/a/b", Rec("|v"), true).IsSuccess());
    dropped->BeginClose();
    dropped.reset();
    EXPECT_EQ(Contents(Path("bgdrop")).size(), 1u);
}

TEST_F(PathCacheFlatFileIndexTest, WriteFailuresAreStickyAndNameTheFile)
{
    // Short writes are completed, not lost.
    collecttest::ResetFaults(-1, ENOSPC, 7);
    {
        auto index = std::make_shared<CPathCacheFlatFileIndex>();
        index->SetWriteFunction(collecttest::FaultyPwrite);
        index->SetItemInfoFormatter(std::make_shared<CTextFormatter>());
        ASSERT_TRUE(index->SetCurrentBackingFile(Path("short"), nullptr).IsSuccess());
        CPathCacheFlatFileIndexBuffer buffer(index);
        for (int i = 0; i < 300; ++i)
            ASSERT_TRUE(buffer.AddFile("/s/" + std::to_string(i), kHere, "t", Rec("|v")).IsSuccess());
        ASSERT_TRUE(buffer.CloseFile().IsSuccess());
        ASSERT_TRUE(index->Close().IsSuccess());
        EXPECT_EQ(Contents(Path("short")).size(), 300u);
    }

    // The header and one hand-over pass; the next hand-over fails with ENOSPC.
    collecttest::ResetFaults(2, ENOSPC);
    auto index = std::make_shared<CPathCacheFlatFileIndex>();
    index->SetWriteFunction(collecttest::FaultyPwrite);
    ASSERT_TRUE(index->SetCurrentBackingFile(Path("full"), nullptr).IsSuccess());
    CPathCacheFlatFileIndexBuffer buffer(index);
    CKxError failed;
    int added = 0;
    while (failed.IsSuccess() && added < 100000)
        failed = buffer.AddFile("/x/" + std::string(100, 'z') + std::to_string(added++), kHere, "Walker", nullptr);
    collecttest::ResetFaults();
    ASSERT_TRUE(failed.IsError());
    EXPECT_EQ(failed.Code(), ENOSPC);
    EXPECT_NE(failed.AsString().find("Failed to write to '" + Path("full") + "'"), std::string::npos)
        << failed.AsString();
    EXPECT_NE(failed.AsString().find("Walker"), std::string::npos);
    // Sticky: later hand-overs and the close fail too, although writes would work again.
    ASSERT_TRUE(buffer.AddFile("/x/after", kHere, "t", nullptr).IsSuccess());
    EXPECT_EQ(buffer.FlushBuffer().Code(), ENOSPC);
    EXPECT_EQ(index->Close().Code(), ENOSPC);
    auto next = std::make_shared<CPathCacheFlatFileIndex>();
    EXPECT_EQ(next->SetPreviousBackingFile(Path("full"), nullptr).Code(), KxCode::InvalidData);
}

// A small closed file with three folders and a carried chunk, for the damage tests.
class DamagedDirChangeFileTest : public ScratchFilesTest {
protected:
    void SetUp() override
    {
        ScratchFilesTest::SetUp();
        auto previous = MakeIndex(Path("prev"));
        ASSERT_TRUE(previous->AddItem("/p/q/old", Rec("|o"), true).IsSuccess());
        ASSERT_TRUE(previous->Close().IsSuccess());
        auto index = MakeIndex(Path("good"), Path("prev"));
        CPathCacheFlatFileIndexBuffer buffer(index);
        ASSERT_TRUE(buffer.AddFolder("/p", kHere, "t", Rec("|a")).IsSuccess());
        ASSERT_TRUE(buffer.AddFile("/p/f\\x", kHere, "t", Rec("|<IS>1")).IsSuccess());
        ASSERT_TRUE(buffer.AddFolder("/p/q", kHere, "t", Rec("")).IsSuccess());
        ASSERT_TRUE(buffer.CloseFile().IsSuccess());
        ASSERT_TRUE(index->CarryForward("/p/q").IsSuccess());
        ASSERT_TRUE(index->Close().IsSuccess());
        m_good = Read(Path("good"));
        ASSERT_GT(m_good.size(), 64u);
    }

    // The file as `bytes` is refused at load or at the first read of its entries; never a crash.
    void ExpectRefused(const std::string& bytes, const std::string& what)
    {
        Write(Path("bad"), bytes);
        CPathCacheFlatFileIndex index;
        index.SetPreviousBackingFileParser(std::make_shared<CTextParser>());
        ASSERT_TRUE(index.SetCurrentBackingFile(Path("out"), nullptr).IsSuccess());
        CKxError loaded = index.SetPreviousBackingFile(Path("bad"), nullptr);
        if (loaded.IsError()) {
            EXPECT_FALSE(index.HasPreviousBackingFile());
            EXPECT_EQ(loaded.Code(), KxCode::InvalidData) << what;
            EXPECT_NE(loaded.AsString().find(Path("bad")), std::string::npos) << what;
            EXPECT_NE(loaded.AsString().find("truncated or corrupt"), std::string::npos) << what;
            return;
        }
        // Only a chunk can be damaged behind an intact index: lookups answer "not found" for
        // its folder, and the comparison stops with the file named.
        for (const char* path : {"/p", "/p/f\\x", "/p/q", "/p/q/old"})
            for (auto kind : {IDirChange::eFolder, IDirChange::eFile})
                (void)index.Lookup(path, kind);
        CRecordingCallback callback;
        callback.askRecurse = true;  // read every chunk, also below the deleted folder /p
        CKxError compared = index.Compare(callback);
        EXPECT_EQ(compared.Code(), KxCode::InvalidData) << what;
        EXPECT_NE(compared.AsString().find(Path("bad")), std::string::npos) << what;
        CKxError carried = index.CarryForward("/");
        EXPECT_EQ(carried.Code(), KxCode::InvalidData) << what;
    }

    std::string m_good;
};

TEST_F(DamagedDirChangeFileTest, EveryTruncationAndFlippedByteIsRefused)
{
    for (size_t length = 0; length < m_good.size(); ++length)
        ExpectRefused(m_good.substr(0, length), "truncated to " + std::to_string(length));
    for (size_t at = 0; at < m_good.size(); ++at)
        for (unsigned char mask : {0x01, 0x80, 0x20}) {
            std::string bad = m_good;
            bad[at] = static_cast<char>(bad[at] ^ mask);
            ExpectRefused(bad, "byte " + std::to_string(at) + " ^ " + std::to_string(mask));
        }
}

// A comparison with nothing to do for items in both files passes over folders whose chunks are
// the same bytes in both: a chunk damaged alike in both files must still stop it.
TEST_F(DamagedDirChangeFileTest, ChunksAlikeInBothFilesAreStillChecked)
{
    struct CDeletionsOnly : CRecordingCallback {
        bool WantsInBothIndexes() const override { return false; }
    };
    CDeletionsOnly same;
    ASSERT_TRUE(CPathCacheFlatFileIndex::Compare(Path("good"), Path("good"), same, 0, nullptr, nullptr).IsSuccess());
    EXPECT_TRUE(same.calls.empty());
    for (size_t at = 0; at < m_good.size(); ++at) {
        std::string bad = m_good;
        bad[at] = static_cast<char>(bad[at] ^ 0x01);
        Write(Path("bad"), bad);
        CDeletionsOnly callback;
        EXPECT_EQ(CPathCacheFlatFileIndex::Compare(Path("bad"), Path("bad"), callback, 0, nullptr, nullptr).Code(),
                  KxCode::InvalidData)
            << "byte " << at;
    }
}

TEST_F(DamagedDirChangeFileTest, UnclosedMissingAndForeignFilesAreRefused)
{
    // A scan killed before Close leaves chunks without an index.
    auto killed = MakeIndex(Path("killed"));
    CPathCacheFlatFileIndexBuffer buffer(killed);
    ASSERT_TRUE(buffer.AddFile("/k/1", kHere, "t", Rec("|1")).IsSuccess());
    ASSERT_TRUE(buffer.FlushBuffer().IsSuccess());
    CPathCacheFlatFileIndex index;
    CKxError unclosed = index.SetPreviousBackingFile(Path("killed"), nullptr);
    EXPECT_EQ(unclosed.Code(), KxCode::InvalidData);
    EXPECT_NE(unclosed.AsString().find("not closed"), std::string::npos) << unclosed.AsString();

    CKxError missing = index.SetPreviousBackingFile(Path("missing"), nullptr);
    EXPECT_EQ(missing.Code(), ENOENT);
    EXPECT_NE(missing.AsString().find(Path("missing")), std::string::npos);
    EXPECT_FALSE(index.HasPreviousBackingFile());
    EXPECT_EQ(index.GetPreviousBackingFilePath(), Path("missing"));

    EXPECT_EQ(index.SetPreviousBackingFile(m_dir, nullptr).Code(), KxCode::InvalidData);
    ExpectRefused(std::string(m_good.size(), 'x'), "foreign");
    // A good file appended to itself has a valid-looking trailer in the wrong place.
    ExpectRefused(m_good + m_good, "doubled");
    // A later good load replaces a failed one.
    ASSERT_TRUE(index.SetPreviousBackingFile(Path("good"), nullptr).IsSuccess());
    EXPECT_TRUE(index.Lookup("/p/f\\x", IDirChange::eFile));
}

// Windowed chunk reads hand back exactly the file's bytes: across window edges, when windows are
// reused, for reads past the limit (which may grow after the reader was made) and at the end.
TEST_F(PathCacheFlatFileIndexTest, ChunkReaderReturnsTheFilesBytes)
{
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes.push_back(static_cast<char>('a' + i % 26 + (i / 26) % 3));
    Write(Path("data"), bytes);
    const int fd = ::open(Path("data").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const std::string path = Path("data");
    CDirChangeChunkReader reader(fd, path, 150, 2, 16);
    std::vector<std::pair<size_t, size_t>> reads = {{0, 5}, {3, 10}, {10, 6}, {16, 16}, {14, 4}, {149, 1}, {140, 16},
                                                    {145, 10}, {0, 40}, {100, 17}, {1, 15}, {60, 3}, {199, 1}};
    for (size_t k = 0; k < 300; ++k)
        reads.push_back({(k * 37) % 183, 1 + (k * 11) % 17});
    // Bytes past the limit change (the file grows there): the reader never holds them.
    ASSERT_EQ(::pwrite(fd, "XYZ", 3, 160), 3);
    bytes.replace(160, 3, "XYZ");
    for (const auto& [offset, length] : reads) {
        std::string out = ">";
        CKxError read = reader.Read(offset, length, out);
        ASSERT_TRUE(read.IsSuccess()) << offset << "+" << length << " " << read.AsString();
        EXPECT_EQ(out, ">" + bytes.substr(offset, length)) << offset << "+" << length;
    }
    std::string out;
    CKxError pastEnd = reader.Read(195, 10, out);
    EXPECT_EQ(pastEnd.Code(), KxCode::InvalidData);
    EXPECT_NE(pastEnd.AsString().find(path), std::string::npos);
    EXPECT_TRUE(out.empty());
    ::close(fd);
}
