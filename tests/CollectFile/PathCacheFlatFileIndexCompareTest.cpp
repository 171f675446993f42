#include "CollectFile/PathCacheFlatFileIndexBuffer.h"
#include "CollectTestSupport.h"
#include "DirChangeTestSupport.h"

#include <algorithm>

using collecttest::ScratchFilesTest;
using namespace dctest;

namespace {
const FXCodeLocation kHere = FXCodeLocation::Here();

struct SItem {
    std::string path;
    bool isFile;
    std::string text;
};

// A callback asked whether to visit each deleted folder, answering `answer`.
struct Asking : CRecordingCallback {
    explicit Asking(bool answer = true)
    {
        askRecurse = true;
        recurseInto = answer;
    }
};

void Add(CPathCacheFlatFileIndex& index, const std::vector<SItem>& items)
{
    for (const SItem& item : items)
        ASSERT_TRUE(index.AddItem(item.path, Rec(item.text), item.isFile).IsSuccess()) << item.path;
}

// Folders of the previous job: a kept one losing and gaining files, a deleted one with a
// sub-folder, two emptied ones, "/r/a" deleted beside "/r/a!b" kept and emptied (its chunk
// follows "/r/a/x" and must not be taken for the deleted folder's content), a file that became a
// folder.
const std::vector<SItem> kPrevious = {
    {"/", false, "|root"}, {"/r", false, "|r"}, {"/r/keep", false, "|k"}, {"/r/keep/k1", true, "|k1"},
    {"/r/keep/k2", true, "|k2"}, {"/r/gone", false, "|g"}, {"/r/gone/g1", true, "|g1"},
    {"/r/gone/sub", false, "|gs"}, {"/r/gone/sub/s1", true, "|s1"}, {"/r/emptied", false, "|e"},
    {"/r/emptied/e1", true, "|e1"}, {"/r/a", false, "|a"}, {"/r/a/x", true, "|ax"}, {"/r/a!b", false, "|ab"},
    {"/r/a!b/y", true, "|aby"}, {"/r/f1", true, "|old"}, {"/r/swap", true, "|file"},
};
const std::vector<SItem> kCurrent = {
    {"/", false, "|root"}, {"/r", false, "|r"}, {"/r/keep", false, "|k"}, {"/r/keep/k1", true, "|k1"},
    {"/r/keep/k3", true, "|k3"}, {"/r/emptied", false, "|e"}, {"/r/a!b", false, "|ab"}, {"/r/f1", true, "|new"},
    {"/r/swap", false, "|dir"}, {"/r/new", false, "|n"}, {"/r/new/n1", true, "|n1"},
};
}  // namespace

class PathCacheFlatFileIndexCompareTest : public ScratchFilesTest {
protected:
    void SetUp() override
    {
        ScratchFilesTest::SetUp();
        auto previous = MakeIndex(Path("prev"));
        Add(*previous, kPrevious);
        ASSERT_TRUE(previous->Close().IsSuccess());
    }

    // This job's index, with `extra` items after the usual ones.
    std::shared_ptr<CPathCacheFlatFileIndex> Current(const std::vector<SItem>& extra = {})
    {
        auto index = MakeIndex(Path("cur"), Path("prev"));
        Add(*index, kCurrent);
        Add(*index, extra);
        return index;
    }

    // The calls a comparison of the index, or of two closed files (with text records, or base
    // records when `text` is false), makes on `callback`.
    template <typename Callback = CRecordingCallback>
    static std::vector<std::string> Calls(CPathCacheFlatFileIndex& index, Callback&& callback = Callback{})
    {
        EXPECT_TRUE(index.Compare(callback).IsSuccess());
        return callback.calls;
    }
    template <typename Callback = CRecordingCallback>
    std::vector<std::string> Calls(const std::string& previous, const std::string& current, bool text = true)
    {
        Callback callback;
        const std::shared_ptr<CTextParser> parser = text ? std::make_shared<CTextParser>() : nullptr;
        EXPECT_TRUE(CPathCacheFlatFileIndex::Compare(Path(previous), Path(current), callback, 0, parser, parser).IsSuccess());
        return callback.calls;
    }
};

TEST_F(PathCacheFlatFileIndexCompareTest, DeletedNewEmptiedAndKindChangesInPathOrderDeletedFoldersVisitedWhenAsked)
{
    auto index = Current();
    // Before Close: the entries staged by AddItem are handed over first.
    const std::vector<std::string> calls = Calls(*index);
    EXPECT_EQ(calls, (std::vector<std::string>{
        "both D / |root |root", "both D /r |r |r", "del D /r/a |a", "both D /r/a!b |ab |ab",
        "both D /r/emptied |e |e", "both F /r/f1 |old |new", "del D /r/gone |g", "both D /r/keep |k |k",
        "new D /r/new |n", "new D /r/swap |dir", "del F /r/swap |file", "del F /r/a!b/y |aby",
        "del F /r/emptied/e1 |e1", "both F /r/keep/k1 |k1 |k1", "del F /r/keep/k2 |k2", "new F /r/keep/k3 |k3",
        "new F /r/new/n1 |n1",
    }));

    // After Close, and through the two-file form, the same answers.
    ASSERT_TRUE(index->Close().IsSuccess());
    EXPECT_EQ(Calls(*index), calls);
    EXPECT_EQ(Calls("prev", "cur"), calls);

    // The current file against a file other than the index's own previous one.
    auto unrelated = MakeIndex(Path("cur2"));
    Add(*unrelated, kCurrent);
    CRecordingCallback with;
    ASSERT_TRUE(unrelated->CompareWith(Path("prev"), std::make_shared<CTextParser>(), with).IsSuccess());
    EXPECT_EQ(with.calls, calls);
    EXPECT_EQ(unrelated->CompareWith(Path("cur2"), nullptr, with).Code(), KxCode::InvalidData);  // not closed

    // Deleted folders are visited only when asked.
    std::vector<std::string> deletions;
    for (const std::string& call : Calls(*index, Asking()))
        if (call.rfind("both", 0) != 0 && call.rfind("new", 0) != 0)
            deletions.push_back(call);
    EXPECT_EQ(deletions, (std::vector<std::string>{
        "del D /r/a |a", "recurse? /r/a", "del D /r/gone |g", "recurse? /r/gone", "del F /r/swap |file",
        "del F /r/a/x |ax", "del F /r/a!b/y |aby", "del F /r/emptied/e1 |e1", "del F /r/gone/g1 |g1",
        "del D /r/gone/sub |gs", "recurse? /r/gone/sub", "del F /r/gone/sub/s1 |s1", "del F /r/keep/k2 |k2",
    }));

    // Asked and answered "no": like the default, and the folder's own question is the last
    // word on what lies below it.
    for (const std::string& call : Calls(*index, Asking(false)))
        EXPECT_TRUE(call.find("/r/gone/") == std::string::npos && call.find("/r/a/") == std::string::npos) << call;
}

// A callback with nothing to do for items in both files gets every other call as before, also
// when folders are the same in both files and are passed over.
TEST_F(PathCacheFlatFileIndexCompareTest, CallbackWithoutInterestInBothGetsTheRest)
{
    struct CDeletionsAndNew : CRecordingCallback {
        bool WantsInBothIndexes() const override { return false; }
    };
    auto index = Current();
    std::vector<std::string> expected;
    for (const std::string& call : Calls(*index))
        if (!call.starts_with("both "))
            expected.push_back(call);
    EXPECT_EQ(Calls(*index, CDeletionsAndNew{}), expected);
    ASSERT_TRUE(index->Close().IsSuccess());

    // Two files alike but for one record, and a second chunk of one folder in one of them.
    auto copy = MakeIndex(Path("copy"));
    Add(*copy, kPrevious);
    ASSERT_TRUE(copy->FlushPending().IsSuccess());
    ASSERT_TRUE(copy->AddItem("/r/keep/k2", Rec("|k2"), true).IsSuccess());  // same text, another chunk
    ASSERT_TRUE(copy->AddItem("/r/gone/late", Rec("|l"), true).IsSuccess());
    ASSERT_TRUE(copy->Close().IsSuccess());
    EXPECT_EQ(Calls<CDeletionsAndNew>("prev", "copy"), (std::vector<std::string>{"new F /r/gone/late |l"}));
    EXPECT_EQ(Calls<CDeletionsAndNew>("copy", "prev"), (std::vector<std::string>{"del F /r/gone/late |l"}));
}

TEST_F(PathCacheFlatFileIndexCompareTest, EmptyMissingSidesAndCallbackErrors)
{
    // No previous file: everything is new.
    auto first = MakeIndex(Path("first"));
    Add(*first, {{"/x", false, "|x"}, {"/x/1", true, ""}});
    EXPECT_EQ(Calls(*first), (std::vector<std::string>{"new D /x |x", "new F /x/1 "}));

    // Nothing recorded this time: one deletion per top folder, none below it.
    auto emptied = MakeIndex(Path("empty"), Path("prev"));
    EXPECT_EQ(Calls(*emptied), (std::vector<std::string>{"del D / |root"}));
    ASSERT_TRUE(emptied->Close().IsSuccess());

    EXPECT_TRUE(Calls("empty", "empty", false).empty());

    // Empty records load as nothing when asked; the base parser makes base records otherwise.
    first->SetAvoidLoadingEmptyItemInfo(true);
    EXPECT_EQ(Calls(*first).back(), "new F /x/1 <null>");
    ASSERT_TRUE(first->Close().IsSuccess());
    EXPECT_EQ(Calls("empty", "first", false), (std::vector<std::string>{"new D /x <base>", "new F /x/1 <base>"}));

    CRecordingCallback unused;
    CKxError missing = CPathCacheFlatFileIndex::Compare(Path("nope"), Path("first"), unused, 0, nullptr, nullptr);
    EXPECT_EQ(missing.Code(), ENOENT);
    EXPECT_NE(missing.AsString().find(Path("nope")), std::string::npos);

    // A callback's error stops the comparison and names where it stopped.
    auto index = Current();
    CRecordingCallback callback;
    callback.failAtCall = 2;
    CKxError compared = index->Compare(callback);
    EXPECT_EQ(compared.Code(), 5);
    EXPECT_NE(compared.AsString().find("Compare failed"), std::string::npos);
    EXPECT_NE(compared.AsString().find("/r/a"), std::string::npos) << compared.AsString();
    EXPECT_EQ(callback.calls.size(), 3u);

    // The recurse question's error stops it too.
    struct CRefuseRecurse : CRecordingCallback {
        CKxError OnInIndex1RecurseIntoDeletedFolder(const std::string&, const FVBasePtr&, bool&) override
        {
            return CKxError(50, "no full-only items here");
        }
    } refusing;
    EXPECT_EQ(index->Compare(refusing).Code(), 50);
    EXPECT_EQ(refusing.calls.back(), "del D /r/a |a");
}

TEST_F(PathCacheFlatFileIndexCompareTest, CarriedFoldersHideNoDeletionsAndAreBackedUpNextTime)
{
    // This job could not read /r/gone (it is still there): its own entry is recorded, what lies
    // below it is carried from the previous file.
    auto index = Current({{"/r/gone", false, "|g-now"}});
    ASSERT_TRUE(index->CarryForward("/r/gone/").IsSuccess());
    ASSERT_TRUE(index->CarryForward("/r/not-in-previous").IsSuccess());
    const std::vector<std::string> calls = Calls(*index, Asking());
    for (const std::string& call : calls)
        EXPECT_FALSE(call.rfind("del", 0) == 0 && call.find("/r/gone") != std::string::npos) << call;
    for (const char* both : {"both F /r/gone/sub/s1 |s1 |s1", "both D /r/gone |g |g-now"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), both), calls.end()) << both;
    // A restarted scan has not processed the carried items.
    EXPECT_FALSE(index->LookupCurrent("/r/gone/g1", IDirChange::eFile));
    EXPECT_TRUE(index->LookupCurrent("/r/gone", IDirChange::eFolder));
    ASSERT_TRUE(index->Close().IsSuccess());

    // The next job: the carried folder's own entry is known, everything below it is not (so
    // it is backed up), and carrying it again keeps it carried.
    auto next = MakeIndex(Path("next"), Path("cur"));
    EXPECT_TRUE(next->Lookup("/r/gone", IDirChange::eFolder));
    for (const char* below : {"/r/gone/g1", "/r/gone/sub/s1"})
        EXPECT_FALSE(next->Lookup(below, IDirChange::eFile)) << below;
    EXPECT_FALSE(next->Lookup("/r/gone/sub", IDirChange::eFolder));
    EXPECT_TRUE(next->Lookup("/r/keep/k1", IDirChange::eFile));
    ASSERT_TRUE(next->AddItem("/r/gone", Rec("|g-later"), false).IsSuccess());
    ASSERT_TRUE(next->CarryForward("/r/gone").IsSuccess());
    ASSERT_TRUE(next->Close().IsSuccess());
    auto third = MakeIndex(Path("third"), Path("next"));
    EXPECT_FALSE(third->Lookup("/r/gone/sub/s1", IDirChange::eFile));

    // A later, readable scan records the folder's entries again: they are found once more, the
    // newer chunk winning over the carried one.
    auto readable = MakeIndex(Path("readable"), Path("cur"));
    CPathCacheFlatFileIndexBuffer buffer(readable);
    ASSERT_TRUE(readable->CarryForward("/r/gone").IsSuccess());
    ASSERT_TRUE(buffer.AddFile("/r/gone/g1", kHere, "t", Rec("|seen")).IsSuccess());
    ASSERT_TRUE(buffer.CloseFile().IsSuccess());
    ASSERT_TRUE(readable->Close().IsSuccess());
    auto after = MakeIndex(Path("after"), Path("readable"));
    FVBasePtr record;
    EXPECT_TRUE(after->Lookup("/r/gone/g1", IDirChange::eFile, &record));
    EXPECT_EQ(TextOf(record), "|seen");
    EXPECT_FALSE(after->Lookup("/r/gone/sub/s1", IDirChange::eFile));
}

TEST_F(PathCacheFlatFileIndexCompareTest, KeptFoldersAreSilentInTheComparisonAndFoundNextTime)
{
    // This job did not read /r/gone (nothing changed in it): its records are copied as they were.
    auto index = Current({{"/r/gone", false, "|g"}});
    index->KeepUnchanged("/r/gone");
    for (const std::string& call : Calls(*index, Asking()))
        EXPECT_EQ(call.find("/r/gone/"), std::string::npos) << call;
    ASSERT_TRUE(index->Close().IsSuccess());
    EXPECT_EQ(index->GetPreviousIdentity().size(), 16u);
    EXPECT_NE(index->GetCurrentIdentity(), index->GetPreviousIdentity());

    // The next job finds the kept records as if they had been recorded, and keeping a carried
    // folder leaves it carried.
    auto next = MakeIndex(Path("next"), Path("cur"));
    EXPECT_EQ(next->GetPreviousIdentity(), index->GetCurrentIdentity());
    FVBasePtr record;
    EXPECT_TRUE(next->Lookup("/r/gone/sub/s1", IDirChange::eFile, &record));
    EXPECT_EQ(TextOf(record), "|s1");
    ASSERT_TRUE(next->CarryForward("/r/gone").IsSuccess());
    ASSERT_TRUE(next->Close().IsSuccess());
    auto third = MakeIndex(Path("third"), Path("next"));
    third->KeepUnchanged("/r/gone");
    ASSERT_TRUE(third->Close().IsSuccess());
    EXPECT_FALSE(MakeIndex(Path("fourth"), Path("third"))->Lookup("/r/gone/g1", IDirChange::eFile));
}
