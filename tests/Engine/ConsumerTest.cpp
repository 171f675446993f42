// The last link of a volume's chain, the reading of consumer answers, item reuse, the
// content mapper and the engine choice.
#include "EngineTestSupport.h"

#include "Engine/ConsumerAnswer.h"
#include "Engine/ContentMapper.h"
#include "Engine/DirChangeCollectItemConsumer.h"
#include "Engine/FindFirstScanEngine.h"
#include "Engine/GpfsScanEngine.h"

using namespace enginetest;

namespace {

// Appends its name and the item's selection to a shared log and answers as told.
class LoggingConsumer : public CItemConsumer {
public:
    LoggingConsumer(std::string name, std::vector<std::string>& log, CKxError answer = {})
        : m_name(std::move(name)), m_log(log), m_answer(std::move(answer))
    {
    }
    CKxError Process(const CItemPtr& item) override
    {
        m_log.push_back(m_name + (item->IsSelected() ? "+" : "-"));
        return m_answer;
    }

private:
    std::string m_name;
    std::vector<std::string>& m_log;
    CKxError m_answer;
};

class FixedEvaluator : public CItemEvaluator {
public:
    explicit FixedEvaluator(bool select) : m_select(select) {}
    bool IsSelected(const CItemPtr&) override { return m_select; }

private:
    bool m_select;
};

// The record's writer and the collect writer each get what is theirs; a writer's error stops the
// sequence with its code.
TEST(DirChangeCollect, SplitsItemsBetweenTheTwoWritersAndAWriterErrorStopsTheSequence)
{
    auto item = std::make_shared<CItem>("/d/f", false);
    struct Case {
        bool first, second;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {false, true, {}},                                       // rejected up front: goes nowhere
        {true, false, {"ancestors-", "dirchange-"}},             // known, not backed up
        {true, true, {"ancestors+", "collect+", "dirchange+"}},  // backed up, and recorded as such
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        CDirChangeCollectItemConsumer last(1, std::make_shared<FixedEvaluator>(c.first),
                                           std::make_shared<LoggingConsumer>("dirchange", log),
                                           std::make_shared<FixedEvaluator>(c.second),
                                           std::make_shared<LoggingConsumer>("collect", log));
        last.SetAncestorConsumer(std::make_shared<LoggingConsumer>("ancestors", log));
        item->SetSelected(!c.second);
        ASSERT_TRUE(last.Process(item).IsSuccess());
        EXPECT_EQ(log, c.expected);
        EXPECT_EQ(last.getProcessedItemsCount(), c.first ? 1u : 0u);
    }

    std::vector<std::string> log;
    CDirChangeCollectItemConsumer last(1, nullptr, std::make_shared<LoggingConsumer>("dirchange", log), nullptr,
                                       std::make_shared<LoggingConsumer>("collect", log,
                                                                         CKxError::FromErrno(ENOSPC, "disk full")));
    CKxError e = last.Process(std::make_shared<CItem>("/f", false));
    EXPECT_EQ(e.Code(), ENOSPC);
    EXPECT_EQ(e.Frames().size(), 2u);
    EXPECT_EQ(log, std::vector<std::string>{"collect+"});  // no record of a backup that did not happen
}

TEST(ConsumerAnswer, ClassifiesEachKindOfAnswer)
{
    CItem healthy("/a", false);
    CItem unreadable("/b", false);
    unreadable.SetErrorNumber(ENOENT);
    const std::tuple<CKxError, const CItem*, EConsumerAnswer> cases[] = {
        {CKxError::Success(), &healthy, EConsumerAnswer::Taken},
        {CKxError(KxCode::DoNotEnterFolder, "mount"), &healthy, EConsumerAnswer::DoNotEnter},
        {CKxError::FromErrno(ENAMETOOLONG, "long"), &healthy, EConsumerAnswer::DoNotEnter},
        {CKxError::FromErrno(ENOENT, "gone"), &unreadable, EConsumerAnswer::SourceFailure},
        {CKxError::FromErrno(ENAMETOOLONG, "readlink"), &unreadable, EConsumerAnswer::SourceFailure},
        {CKxError::FromErrno(EIO, "write"), &healthy, EConsumerAnswer::WriteFailure},
        {CKxError(KxCode::OutOfMemory, "alloc"), &healthy, EConsumerAnswer::WriteFailure},
    };
    for (const auto& [answer, item, expected] : cases)
        EXPECT_EQ(CConsumerAnswer::Classify(answer, *item), expected) << answer.AsString();
}

TEST(Item, ReuseClearsTheItemButKeepsItsWorkUnit)
{
    CItem item("/data/file", "/source/file", false);
    item.setNewInImage();
    item.SetAdHocItem(true);
    item.SetSelectedForAccess(true);
    EXPECT_EQ(item.GetFlags(), 0x19);  // bits 0, 3 and 4: the layout other files record
    item.SetErrorNumber(EACCES);
    EXPECT_EQ(item.GetBag().Get<int>(CItem::ErrorCodeKey, 0), EACCES);
    auto unitBag = std::make_shared<CBag>();
    item.SetWorkUnitBag(unitBag);
    item.Reset();
    EXPECT_EQ(item.GetErrorNumber() + item.GetFlags(), 0);
    EXPECT_FALSE(item.HasBag());
    EXPECT_EQ(item.GetWorkUnitBag(), unitBag);
}

TEST(ContentMapper, LongestPrefixWinsAtComponentBoundariesBothWays)
{
    CContentMapper mapper;
    mapper.AddMapping("/snap/", "/data");
    mapper.AddMapping("/snap/deep", "/elsewhere");
    mapper.AddMapping("/rootsnap", "/");
    const struct {
        const char* local;
        const char* source;
        bool back;  // the source maps back to the same local path
    } cases[] = {
        {"/snap/x/y", "/data/x/y", true},     {"/snap/deep/z", "/elsewhere/z", true},
        {"/snapshot/z", "/snapshot/z", false}, {"/rootsnap/etc", "/etc", false},
        {"/rootsnap", "/", true},              {"/snap", "/data", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mapper.GetSourcePath(c.local), c.source) << c.local;
        if (c.back) {
            EXPECT_EQ(mapper.GetLocalPath(c.source), c.local) << c.source;
        }
    }
    // Every source path lies under "/": the longest source prefix decides.
    EXPECT_EQ(mapper.GetLocalPath("/data/q"), "/snap/q");
    EXPECT_EQ(mapper.GetLocalPath("/etc/passwd"), "/rootsnap/etc/passwd");
}

// A job whose engine list has only engines that decline still loses nothing silently: each
// root becomes a failure the operator sees.
class DecliningCallback : public TestCallback {
public:
    CKxError GetScanEngineList(CScanEngineList& engines) override
    {
        engines = {std::make_shared<CGpfsScanEngine>()};
        return CKxError::Success();
    }
};

TEST(ScanEngines, ARootNoEngineAcceptsIsAFailure)
{
    ScratchFolder scratch;
    auto callback = std::make_shared<DecliningCallback>();
    WalkOptions options;
    ASSERT_TRUE(Walk(callback, {scratch.Path()}, options).IsSuccess());
    EXPECT_EQ(options.failures->Failures(), (std::map<std::string, int>{{scratch.Path(), ENOTSUP}}));
}

}  // namespace
