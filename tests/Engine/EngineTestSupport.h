#pragma once
// Shared pieces of the engine tests: a scratch folder, a recording chain, a callback that
// hands out recording chains, and an independent listing of a tree made with find(1).
#include "Engine/ConsumerOutputHandler.h"
#include "Engine/FindFirstItem.h"
#include "Engine/FolderReadPlan.h"
#include "Engine/ScanArbiter.h"
#include "Engine/ScanFailureConsumer.h"
#include "Engine/ScannerCallback.h"
#include "Engine/WorkUnitManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace enginetest {

// Scratch trees live in memory when the machine offers a tmpfs: creating and removing
// hundreds of thousands of entries on a disk with online discard takes minutes.
inline std::string ScratchBase()
{
    if (const char* base = ::getenv("FSWEEP_TEST_TMP"); base && *base)
        return base;
    if (::access("/dev/shm", W_OK | X_OK) == 0)
        return "/dev/shm";
    return "/tmp";
}

// A scratch folder, removed with everything below it (rm copes with any depth).
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = ScratchBase() + "/fsweep-engine.XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        m_path = made ? made : "/tmp";
        ::chmod(m_path.c_str(), 0755);
    }
    ~ScratchFolder()
    {
        const std::string unlock = m_locked ? "chmod -R u+rwx '" + m_path + "' 2>/dev/null; " : "";
        [[maybe_unused]] int rc = ::system((unlock + "rm -rf '" + m_path + "'").c_str());
    }
    // Some folder below lost its owner's permissions: restore them before removing.
    void MarkLocked() { m_locked = true; }
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
    bool m_locked = false;
};

inline void MakeFile(const std::string& path, size_t size = 0)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    if (size > 0) {
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    }
    ::close(fd);
}

inline void MakeFolder(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path; }

// One reported item as the tests compare it: path and kind letter as find's %y prints it.
struct Seen {
    std::string path;
    char kind;
    bool operator<(const Seen& o) const { return path < o.path || (path == o.path && kind < o.kind); }
    bool operator==(const Seen& o) const { return path == o.path && kind == o.kind; }
};

inline char KindOf(std::uint32_t mode)
{
    if (S_ISDIR(mode)) return 'd';
    if (S_ISLNK(mode)) return 'l';
    if (S_ISFIFO(mode)) return 'p';
    if (S_ISSOCK(mode)) return 's';
    if (S_ISBLK(mode)) return 'b';
    if (S_ISCHR(mode)) return 'c';
    return 'f';
}

// Every entry below and including `root`, from find(1): independent of the engine.
inline std::set<Seen> FindListing(const std::string& root)
{
    std::set<Seen> out;
    FILE* pipe = ::popen(("find '" + root + "' -printf '%y %p\\0' 2>/dev/null").c_str(), "r");
    if (!pipe)
        return out;
    std::string record;
    int c;
    while ((c = std::fgetc(pipe)) != EOF) {
        if (c != '\0') {
            record.push_back(static_cast<char>(c));
            continue;
        }
        if (record.size() > 2)
            out.insert({record.substr(2), record[0]});
        record.clear();
    }
    ::pclose(pipe);
    return out;
}

// A chain link that records every item and can answer with a scripted result.
class RecordingConsumer : public CItemConsumer {
public:
    using Hook = std::function<CKxError(const CItemPtr&)>;
    struct Record {
        std::vector<Seen> items;  // in the order reported
        std::vector<std::string> sources;
        std::vector<std::string> mountPoints;
        std::vector<CItemPtr> kept;
    };

    CKxError Process(const CItemPtr& item) override
    {
        CKxError answer = m_hook ? m_hook(item) : CKxError::Success();
        std::lock_guard lock(m_lock);
        m_record.items.push_back({item->GetLocalFullyQualifiedItemName(), KindOf(item->GetFileMode())});
        m_record.sources.push_back(item->GetSourceFullyQualifiedItemName());
        if (auto* findFirst = dynamic_cast<CFindFirstItem*>(item.get()); findFirst && findFirst->IsMountPoint())
            m_record.mountPoints.push_back(item->GetLocalFullyQualifiedItemName());
        if (m_keepItems)
            m_record.kept.push_back(item);
        IncrementProcessedItemsCount();
        return answer;
    }

    void SetHook(Hook hook) { m_hook = std::move(hook); }
    void KeepItems() { m_keepItems = true; }
    Record Snapshot() const
    {
        std::lock_guard lock(m_lock);
        return m_record;
    }
    std::set<Seen> Items() const
    {
        const Record record = Snapshot();
        return {record.items.begin(), record.items.end()};
    }

private:
    Hook m_hook;
    bool m_keepItems = false;
    mutable std::mutex m_lock;
    Record m_record;
};

// Records unreadable items with the "errorCode" of their bag; can fail on demand.
class RecordingFailureConsumer : public CScanFailureConsumer {
public:
    CKxError Process(const CItemPtr& item) override
    {
        std::lock_guard lock(m_lock);
        int code = -1;
        (void)item->GetBag().Read(CItem::ErrorCodeKey, code);
        EXPECT_EQ(code, item->GetErrorNumber());
        m_failures[item->GetLocalFullyQualifiedItemName()] = code;
        return m_failWrites ? CKxError::FromErrno(ENOSPC, "failed-items list is full") : CKxError::Success();
    }
    void FailWrites() { m_failWrites = true; }
    std::map<std::string, int> Failures() const
    {
        std::lock_guard lock(m_lock);
        return m_failures;
    }

private:
    bool m_failWrites = false;
    mutable std::mutex m_lock;
    std::map<std::string, int> m_failures;
};

// Hands every worker a handler over the same recording consumer; counts requests.
class TestCallback : public CScannerCallback {
public:
    explicit TestCallback(std::shared_ptr<RecordingConsumer> consumer = std::make_shared<RecordingConsumer>())
        : m_consumer(std::move(consumer))
    {
    }
    CKxError GetOutputHandler(const std::string& volume, CConsumerOutputHandlerPtr& handler) override
    {
        m_handlerRequests.fetch_add(1);
        {
            std::lock_guard lock(m_lock);
            m_volumes.insert(volume);
        }
        if (m_failHandlers)
            return CKxError(KxCode::NotFound, "no handler in this test");
        handler = std::make_shared<CConsumerOutputHandler>(m_consumer);
        return CKxError::Success();
    }
    void OnScannerError(const std::string&, const CKxError&) override { m_scannerErrors.fetch_add(1); }
    CFolderReadPlan* GetFolderReadPlan() override { return m_plan; }
    void SetFolderReadPlan(CFolderReadPlan* plan) { m_plan = plan; }
    void LogVolumeScanComplete(const CWorkUnit&) override { m_completedUnits.fetch_add(1); }

    RecordingConsumer& Consumer() { return *m_consumer; }
    void FailHandlers() { m_failHandlers = true; }
    int HandlerRequests() const { return m_handlerRequests.load(); }
    int CompletedUnits() const { return m_completedUnits.load(); }
    std::set<std::string> Volumes() const
    {
        std::lock_guard lock(m_lock);
        return m_volumes;
    }
    int ScannerErrors() const { return m_scannerErrors.load(); }

private:
    std::shared_ptr<RecordingConsumer> m_consumer;
    CFolderReadPlan* m_plan = nullptr;
    bool m_failHandlers = false;
    std::atomic<int> m_handlerRequests{0};
    std::atomic<int> m_completedUnits{0};
    mutable std::mutex m_lock;
    std::set<std::string> m_volumes;
    std::atomic<int> m_scannerErrors{0};
};

struct WalkOptions {
    int maxWorkers = 1;
    int arbiterThreads = 1;
    bool followMounts = false;
    std::vector<std::string> contentExceptions, filters, filterExceptions, systemFilters, systemFilterExceptions;
    std::vector<std::string> rootsWithoutLinks;  // CWorkUnit::ReachWithoutLinks
    std::shared_ptr<RecordingFailureConsumer> failures = std::make_shared<RecordingFailureConsumer>();
    ContentMapperAPIPtr mapper;
};

// Walks `content` as one job would: manager, units, arbiter. Returns the final status.
inline CKxError Walk(const std::shared_ptr<TestCallback>& callback, const std::vector<std::string>& content,
                     const WalkOptions& options = {})
{
    auto manager = std::make_shared<CWorkUnitManager>(7);
    manager->SetFollowMountPaths(options.followMounts);
    manager->SetScanFailureConsumer(options.failures);
    manager->SetContentMapper(options.mapper);
    auto context = std::make_shared<CBag>();
    (void)context->Write("MaxWorkers", options.maxWorkers);
    manager->SetDefaultContext(context);
    CKxError e = manager->FinalizeWorkUnits(content, options.contentExceptions, options.filters,
                                            options.filterExceptions, options.systemFilters,
                                            options.systemFilterExceptions);
    if (e.IsError())
        return e;
    for (const auto& [key, unit] : manager->GetWorkUnitMap())
        for (const std::string& root : options.rootsWithoutLinks)
            unit->ReachWithoutLinks(root);
    CScanArbiter arbiter(7, options.arbiterThreads, callback);
    arbiter.SetScannerConfigurationBag(std::make_shared<CBag>());
    CKxError status = arbiter.Run(manager);
    EXPECT_EQ(status.Code(), arbiter.GetFinalStatus().Code());
    return status;
}

// A walk test's scratch tree, recording callback and options, fresh for every test.
class WalkOnScratch : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::shared_ptr<TestCallback> callback = std::make_shared<TestCallback>();
    WalkOptions options;
};

}  // namespace enginetest
