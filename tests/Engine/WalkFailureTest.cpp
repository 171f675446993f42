// How the walk meets trouble: unreadable folders and entries, entries that vanish, the job's
// abort, and each kind of consumer answer.
#include "EngineTestSupport.h"

#include "Engine/FolderWalk.h"

#include <cstdio>
#include <filesystem>
#include <grp.h>
#include <sys/wait.h>

using namespace enginetest;

namespace {

// Serialises what a walk saw, so that a child process can hand it to the test.
std::string Describe(const std::set<Seen>& items, const std::map<std::string, int>& failures)
{
    std::string out;
    for (const Seen& s : items)
        out += std::string(1, s.kind) + " " + s.path + '\0';
    for (const auto& [path, code] : failures)
        out += "! " + path + " " + std::to_string(code) + '\0';
    return out;
}

// Runs `walk` as the unprivileged user 65534 when the test runs as root (root reads every
// folder), in the test's own process otherwise; returns what Describe made of it.
std::string RunUnprivileged(const std::function<std::string()>& walk)
{
    if (::geteuid() != 0)
        return walk();
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const gid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
            ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(3);
        const std::string text = walk();
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0)
                ::_exit(4);
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof(buffer))) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return text;
}

class WalkFailures : public WalkOnScratch {
protected:
    // Cases that change how folders are opened put the defaults back.
    void TearDown() override
    {
        CFolderWalk::SetHeldFolderHandleLimit(256);
        CFolderWalk::SetOneNameAtATime(false);
    }
};

TEST_F(WalkFailures, UnreadableFoldersAndEntriesGoToTheFailureListAndTheWalkGoesOn)
{
    const std::string r = scratch.Path();
    MakeFolder(r + "/open");
    MakeFile(r + "/open/f");
    MakeFolder(r + "/locked");  // cannot be opened
    MakeFile(r + "/locked/secret");
    MakeFolder(r + "/listonly");  // can be listed, but its entries cannot be stat'ed
    MakeFile(r + "/listonly/e1");
    MakeFile(r + "/listonly/e2");
    MakeFile(r + "/z-last");
    scratch.MarkLocked();
    ASSERT_EQ(::chmod((r + "/locked").c_str(), 0300), 0);
    ASSERT_EQ(::chmod((r + "/listonly").c_str(), 0644), 0);
    if (::geteuid() != 0 && ::access((r + "/locked").c_str(), R_OK) == 0)
        GTEST_SKIP() << "this user reads every folder; the permission cannot be tested";

    const std::string seen = RunUnprivileged([&]() {
        auto callback = std::make_shared<TestCallback>();
        WalkOptions options;
        options.maxWorkers = 2;
        CKxError status = Walk(callback, {r}, options);
        if (status.IsError())
            return std::string("status ") + status.AsString();
        return Describe(callback->Consumer().Items(), options.failures->Failures());
    });

    std::set<Seen> expectedItems = FindListing(r);  // as root or owner: everything
    expectedItems.erase({r + "/locked/secret", 'f'});
    expectedItems.erase({r + "/listonly/e1", 'f'});
    expectedItems.erase({r + "/listonly/e2", 'f'});
    const std::map<std::string, int> expectedFailures = {
        {r + "/locked", EACCES}, {r + "/listonly/e1", EACCES}, {r + "/listonly/e2", EACCES}};
    EXPECT_EQ(seen, Describe(expectedItems, expectedFailures));
}

TEST_F(WalkFailures, SiblingsDeletedDuringTheWalkAreFailuresNotLosses)
{
    // The walker looks entries up a few dozen at a time before handing them on: entries looked
    // up before the deletion are reported as found, every later one as a failure.
    constexpr int kFiles = 120;
    const std::string v = scratch / "v";
    MakeFolder(v);
    for (int i = 0; i < kFiles; ++i)
        MakeFile(v + "/file" + std::to_string(i));
    MakeFolder(v + "/gone");
    const std::set<Seen> before = FindListing(scratch.Path());

    std::atomic<bool> deleted{false};
    callback->Consumer().SetHook([&](const CItemPtr& item) {
        const std::string& path = item->GetLocalFullyQualifiedItemName();
        // The folder is reported now and opened later: remove it in between.
        if (path == v + "/gone")
            ::rmdir(path.c_str());
        if (path.rfind(v + "/file", 0) == 0 && !deleted.exchange(true))
            for (int i = 0; i < kFiles; ++i)
                if (v + "/file" + std::to_string(i) != path)
                    ::unlink((v + "/file" + std::to_string(i)).c_str());
        return CKxError::Success();
    });
    ASSERT_TRUE(Walk(callback, {scratch.Path()}, options).IsSuccess());

    std::set<Seen> accounted = callback->Consumer().Items();
    for (const auto& [path, code] : options.failures->Failures()) {
        EXPECT_EQ(code, ENOENT) << path;
        accounted.insert({path, path == v + "/gone" ? 'd' : 'f'});
    }
    EXPECT_EQ(accounted, before);
    EXPECT_TRUE(options.failures->Failures().count(v + "/gone"));
    EXPECT_GE(options.failures->Failures().size(), static_cast<size_t>(kFiles / 2));
}

TEST_F(WalkFailures, AFolderSwappedAfterItsListingIsReportedChangedAndNeverWalkedThroughTheSwap)
{
    // How the walk opens folders (held handles, one name at a time): from the held handle of
    // the parent, by path below the root (its handles ran out), and by path one name at a time
    // (kernels without openat2).
    // When `trigger` is reported, `first` and `second` (below the case's root) trade places.
    struct Case {
        const char* name;
        const char* trigger;
        const char* first;
        const char* second;
        std::map<std::string, int> heldFailures, byPathFailures;  // relative path: errno
    };
    const std::vector<Case> cases = {
        {"folder for folder", "a", "a", "b", {{"a", ESTALE}, {"b", ESTALE}}, {{"a", ESTALE}, {"b", ESTALE}}},
        {"folder for link", "a", "a", "l", {{"a", ESTALE}}, {{"a", ESTALE}}},
        // Opened from a's handle the subfolder is still a's; by path the link is refused.
        {"folder above for link", "a/sub", "a", "l", {}, {{"a/sub", ESTALE}}},
    };
    int run = 0;
    for (const auto& [heldHandles, oneName] : {std::pair{256, false}, std::pair{0, false}, std::pair{0, true}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", held handles " + std::to_string(heldHandles) +
                         (oneName ? ", one name at a time" : ""));
            const std::string r = scratch / ("run" + std::to_string(run)), outside = scratch / ("outside" + std::to_string(run++));
            for (const std::string& folder : {r, r + "/a", r + "/a/sub", r + "/b", r + "/b/sub", outside, outside + "/sub"})
                MakeFolder(folder);
            for (const std::string& file : {r + "/a/sub/fa", r + "/b/sub/fb", outside + "/secret", outside + "/sub/secret"})
                MakeFile(file);
            ASSERT_EQ(::symlink(outside.c_str(), (r + "/l").c_str()), 0);
            const std::set<Seen> before = FindListing(r);

            CFolderWalk::SetHeldFolderHandleLimit(heldHandles);
            CFolderWalk::SetOneNameAtATime(oneName);
            auto callback = std::make_shared<TestCallback>();
            std::atomic<bool> swapped{false};
            callback->Consumer().SetHook([&](const CItemPtr& item) {
                if (item->GetLocalFullyQualifiedItemName() == r + "/" + c.trigger && !swapped.exchange(true)) {
                    EXPECT_EQ(::renameat2(AT_FDCWD, (r + "/" + c.first).c_str(), AT_FDCWD,
                                          (r + "/" + c.second).c_str(), RENAME_EXCHANGE),
                              0);
                }
                return CKxError::Success();
            });
            WalkOptions options;
            ASSERT_TRUE(Walk(callback, {r}, options).IsSuccess());

            for (const Seen& item : callback->Consumer().Items())
                EXPECT_TRUE(before.count(item)) << "listed through the swap: " << item.path;
            std::map<std::string, int> expected;
            for (const auto& [path, code] : heldHandles > 0 ? c.heldFailures : c.byPathFailures)
                expected[r + "/" + path] = code;
            EXPECT_EQ(options.failures->Failures(), expected);
        }
    }
}

TEST_F(WalkFailures, ARootToBeReachedWithoutLinksIsAChangeWhenALinkLiesOnItsWay)
{
    MakeFolder(scratch / "real");
    MakeFolder(scratch / "real/dir");
    MakeFolder(scratch / "real/dir/sub");
    MakeFile(scratch / "real/dir/sub/f");
    ASSERT_EQ(::symlink("real", (scratch / "via").c_str()), 0);
    struct Case {
        const char* root;
        bool withoutLinks;
        int heldHandles;  // 0: below the root every folder is opened by path too
        bool walked;
    };
    for (const Case& c : {Case{"via/dir", false, 256, true}, Case{"via/dir", true, 256, false},
                          Case{"real/dir", true, 256, true}, Case{"real/dir", true, 0, true}}) {
        SCOPED_TRACE(std::string(c.root) + (c.withoutLinks ? " without links" : "") + ", held handles " +
                     std::to_string(c.heldHandles));
        CFolderWalk::SetHeldFolderHandleLimit(c.heldHandles);
        const std::string root = std::filesystem::canonical(scratch.Path()).string() + "/" + c.root;
        auto callback = std::make_shared<TestCallback>();
        WalkOptions options;
        if (c.withoutLinks)
            options.rootsWithoutLinks = {root};
        ASSERT_TRUE(Walk(callback, {root}, options).IsSuccess());
        if (c.walked) {
            EXPECT_EQ(callback->Consumer().Items(),
                      (std::set<Seen>{{root, 'd'}, {root + "/sub", 'd'}, {root + "/sub/f", 'f'}}));
            EXPECT_TRUE(options.failures->Failures().empty());
        } else {
            EXPECT_TRUE(callback->Consumer().Items().empty());
            EXPECT_EQ(options.failures->Failures(), (std::map<std::string, int>{{root, ESTALE}}));
        }
    }
}

// The job's abort and a write failure of our own files both stop the walk promptly with their
// status; the abort is polled between folders.
TEST_F(WalkFailures, AbortAndOwnWriteFailuresStopTheWalkPromptly)
{
    for (int d = 0; d < 40; ++d) {
        MakeFolder(scratch / ("d" + std::to_string(d)));
        for (int f = 0; f < 20; ++f)
            MakeFile(scratch / ("d" + std::to_string(d) + "/f" + std::to_string(f)));
    }
    for (const bool abort : {true, false})
        for (int workers : {1, 4}) {
            SCOPED_TRACE(std::string(abort ? "abort" : "write failure") + ", workers " + std::to_string(workers));
            auto callback = std::make_shared<TestCallback>();
            std::atomic<int> calls{0};
            callback->Consumer().SetHook([&](const CItemPtr&) {
                if (++calls == 100) {
                    if (abort)
                        callback->Abort();
                    else
                        return CKxError::FromErrno(ENOSPC, "collect file write failed");
                }
                return CKxError::Success();
            });
            WalkOptions options;
            options.maxWorkers = workers;
            CKxError status = Walk(callback, {scratch.Path()}, options);
            EXPECT_EQ(status.Code(), abort ? KxCode::OperationAborted : ENOSPC);
            EXPECT_LT(callback->Consumer().getProcessedItemsCount(),
                      100u + (abort ? 41u : 21u) * static_cast<unsigned>(workers));
            EXPECT_TRUE(options.failures->Failures().empty());
            if (!abort) {
                EXPECT_NE(status.AsString().find("collect file write failed"), std::string::npos);
                EXPECT_EQ(callback->ScannerErrors(), 1);
            }
        }
}

// A do-not-enter answer (a new mount path, a diverted long path) prunes the folder without a
// failure; a consumer that cannot read the source sends the item to the failure list.
TEST_F(WalkFailures, ConsumerAnswersPruneFoldersOrListFailuresAndTheWalkGoesOn)
{
    for (const char* folder : {"/skip", "/long", "/normal"}) {
        MakeFolder(scratch.Path() + folder);
        MakeFile(scratch.Path() + folder + "/inner");
    }
    MakeFile(scratch / "unreadable");
    MakeFile(scratch / "z");
    std::atomic<int> skipAsked{0};
    callback->Consumer().SetHook([&](const CItemPtr& item) {
        const std::string& path = item->GetLocalFullyQualifiedItemName();
        if (path == scratch / "skip") {
            skipAsked++;
            return CKxError(KxCode::DoNotEnterFolder, "Identified new mount path");
        }
        if (path == scratch / "long")
            return CKxError::FromErrno(ENAMETOOLONG, "diverted long path");
        if (path == scratch / "unreadable") {
            item->SetErrorNumber(EIO);
            return CKxError::FromErrno(EIO, "readlink failed");
        }
        return CKxError::Success();
    });
    options.maxWorkers = 2;
    ASSERT_TRUE(Walk(callback, {scratch.Path()}, options).IsSuccess());
    const std::set<Seen> items = callback->Consumer().Items();
    EXPECT_FALSE(items.count({scratch / "skip/inner", 'f'}));
    EXPECT_FALSE(items.count({scratch / "long/inner", 'f'}));
    EXPECT_TRUE(items.count({scratch / "normal/inner", 'f'}));
    EXPECT_TRUE(items.count({scratch / "unreadable", 'f'}) && items.count({scratch / "z", 'f'}));
    EXPECT_EQ(skipAsked.load(), 1);
    EXPECT_EQ(options.failures->Failures(), (std::map<std::string, int>{{scratch / "unreadable", EIO}}));
}

TEST_F(WalkFailures, AFailureListThatCannotBeWrittenOrAMissingOutputHandlerStopsTheWalk)
{
    MakeFile(scratch / "a");
    options.failures->FailWrites();
    EXPECT_EQ(Walk(callback, {scratch / "missing", scratch / "a"}, options).Code(), ENOSPC);

    auto unhandled = std::make_shared<TestCallback>();
    unhandled->FailHandlers();
    EXPECT_EQ(Walk(unhandled, {scratch.Path()}).Code(), KxCode::NotFound);
    EXPECT_EQ(unhandled->Consumer().getProcessedItemsCount(), 0u);
}

}  // namespace
