#include "Engine/FolderWalk.h"

#include "Base/HotPath.h"
#include "Base/LogWriter.h"
#include "Engine/ConsumerOutputHandler.h"
#include "Engine/FindFirstItem.h"
#include "Engine/FolderReadPlan.h"
#include "Engine/ScanContext.h"
#include "Engine/ScannerCallback.h"
#include "Engine/WalkRoot.h"
#include "Engine/WorkUnit.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr size_t DirectoryBufferSize = 64 * 1024;
// Between two polls of the job's abort flag inside one large folder.
constexpr unsigned EntriesPerAbortPoll = 4096;
// Entries looked up before the first of them is handed on (see WalkFolder).
constexpr size_t StatBatchSize = 32;
constexpr int FolderOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// What a folder is reported with when the folder opened under its name is not the one its
// parent's listing showed (ESTALE: the name no longer leads to the same folder).
constexpr int ChangedDuringScan = ESTALE;

// Kernels before 5.6, and sandboxes that refuse the call, answer openat2 with ENOSYS; the walk
// then resolves one name at a time. Learned once per process.
std::atomic<bool> g_noOpenat2{false};

int OpenInPieces(int base, const std::string& path, size_t pos, bool withoutLinks);

// Opens `piece` (shorter than PATH_MAX) below the folder `base` without following a symbolic
// link anywhere on the way.
int OpenPieceWithoutLinks(int base, const std::string& piece)
{
    if (!g_noOpenat2.load(std::memory_order_relaxed)) {
        struct open_how how {};
        how.flags = FolderOpenFlags;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
        const long fd = ::syscall(SYS_openat2, base, piece.c_str(), &how, sizeof(how));
        if (fd >= 0 || errno != ENOSYS)
            return static_cast<int>(fd);
        g_noOpenat2.store(true, std::memory_order_relaxed);
    }
    // O_NOFOLLOW refuses a link as the last name only: one name at a time.
    if (piece.find('/') == std::string::npos)
        return ::openat(base, piece.c_str(), FolderOpenFlags);
    return OpenInPieces(base, piece, 0, true);
}

// Opens `path` from `pos` on, relative to `base`, in pieces the kernel takes in one call (one
// name each when links are refused without openat2), each relative to the folder the previous
// one opened; `withoutLinks` refuses a link anywhere. -1 with errno on failure.
int OpenInPieces(int base, const std::string& path, size_t pos, bool withoutLinks)
{
    const bool oneName = withoutLinks && g_noOpenat2.load(std::memory_order_relaxed);
    int fd = base;
    std::string piece;
    while (pos < path.size()) {
        size_t end = oneName ? std::min(path.find('/', pos), path.size()) : path.size();
        if (end - pos >= PATH_MAX - 1) {
            end = path.rfind('/', pos + PATH_MAX - 2);
            if (end == std::string::npos || end <= pos) {
                if (fd != base)
                    ::close(fd);
                errno = ENAMETOOLONG;
                return -1;
            }
        }
        piece.assign(path, pos, end - pos);
        if (piece.empty() && withoutLinks) {  // "//": nothing to resolve
            pos = end + 1;
            continue;
        }
        if (piece.empty())
            piece = "/";
        const int next = withoutLinks ? OpenPieceWithoutLinks(fd, piece) : ::openat(fd, piece.c_str(), FolderOpenFlags);
        const int openErrno = errno;
        if (fd != base)
            ::close(fd);
        if (next < 0) {
            errno = openErrno;
            return -1;
        }
        fd = next;
        pos = end + 1;
    }
    return fd;
}

// Opens a root folder: by its path as configured, or from "/" without following any link.
int OpenRootFolder(const CWalkRoot& root)
{
    if (!root.IsReachedWithoutLinks())
        return CFolderWalk::OpenFolder(root.GetLocalPath());
    const int top = ::open("/", FolderOpenFlags);
    if (top < 0)
        return -1;
    const int fd = CFolderWalk::OpenFolderBelow(top, root.GetLocalPath(), 1);
    const int openErrno = errno;
    ::close(top);
    errno = openErrno;
    return fd;
}

// lstat of a root, its folders reached as OpenRootFolder reaches them: 0 or the errno.
int LookAtRoot(const CWalkRoot& root, struct stat& status)
{
    const std::string& path = root.GetLocalPath();
    const size_t slash = path.rfind('/');
    if (!root.IsReachedWithoutLinks() || slash == 0 || slash == std::string::npos)
        return ::lstat(path.c_str(), &status) == 0 ? 0 : errno;
    const int top = ::open("/", FolderOpenFlags);
    if (top < 0)
        return errno;
    const int parent = CFolderWalk::OpenFolderBelow(top, path.substr(0, slash), 1);
    int error = parent < 0 ? errno : 0;
    ::close(top);
    if (parent >= 0) {
        error = ::fstatat(parent, path.c_str() + slash + 1, &status, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
        ::close(parent);
    }
    // A link (or a file) on the way that was a folder when the link was judged is a change.
    return error == ELOOP || error == ENOTDIR ? ChangedDuringScan : error;
}

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

std::uint32_t ModeOfDirentType(unsigned char type)
{
    switch (type) {
    case DT_DIR: return S_IFDIR;
    case DT_LNK: return S_IFLNK;
    case DT_FIFO: return S_IFIFO;
    case DT_SOCK: return S_IFSOCK;
    case DT_CHR: return S_IFCHR;
    case DT_BLK: return S_IFBLK;
    default: return S_IFREG;
    }
}
// An open folder whose subfolders are still pending, with its path: a subfolder opens
// itself relative to it (one name to resolve instead of the whole path) and takes its path
// from it. Closed when the last pending subfolder has opened itself.
struct FolderHandle {
    int fd;
    std::string path;
    FolderHandle(int folderFd, std::string folderPath) : fd(folderFd), path(std::move(folderPath)) {}
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
};

// Handles kept open across all walks of the process; beyond it subfolders open by path, so
// a deep and wide tree never runs out of descriptors.
std::atomic<int> g_maxHeldFolderHandles{256};
std::atomic<int> g_heldFolderHandles{0};

FolderHandle::~FolderHandle()
{
    ::close(fd);
    g_heldFolderHandles.fetch_sub(1, std::memory_order_relaxed);
}

std::shared_ptr<FolderHandle> HoldFolder(int fd, const std::string& path)
{
    if (g_heldFolderHandles.fetch_add(1, std::memory_order_relaxed) >=
        g_maxHeldFolderHandles.load(std::memory_order_relaxed)) {
        g_heldFolderHandles.fetch_sub(1, std::memory_order_relaxed);
        return nullptr;
    }
    return std::make_shared<FolderHandle>(fd, path);
}
}  // namespace

struct CFolderWalk::Node {
    NodePtr parent;
    std::shared_ptr<FolderHandle> parentFolder;  // may be empty: then the path is rebuilt
    std::string name;  // the root's local path for a root node
    const CWalkRoot* root;
    // The folder as its parent's listing showed it: the folder opened under its name must be
    // this one, or the name was swapped for another folder or a link meanwhile.
    dev_t device;
    ino_t inode;
    std::uint8_t state;

    Node(NodePtr parentNode, std::string_view nodeName, const CWalkRoot* walkRoot, const struct stat& listed,
         std::uint8_t filterState)
        : parent(std::move(parentNode)), name(nodeName), root(walkRoot), device(listed.st_dev), inode(listed.st_ino),
          state(filterState)
    {
    }
    // Releases a long chain of sole-owned ancestors in a loop: the default would recurse
    // once per level, and a deep tree would exhaust the stack.
    ~Node()
    {
        NodePtr up = std::move(parent);
        while (up && up.use_count() == 1) {
            NodePtr next = std::move(up->parent);
            up = std::move(next);
        }
    }
};

class CFolderWalk::Worker {
public:
    explicit Worker(CFolderWalk& walk) : m_walk(walk), m_buffer(new char[DirectoryBufferSize]) {}

    // False when the walk cannot use this worker (no output handler; the walk is stopped).
    bool Start()
    {
        CKxError e = m_walk.m_context.GetCallback().GetOutputHandler(m_walk.m_unit.GetVolumeName(), m_handler);
        if (e.IsSuccess() && !m_handler)
            e = CKxError(KxCode::NotFound, "Output handler is unconfigured for volume '" +
                                               m_walk.m_unit.GetVolumeName() + "'");
        if (e.IsError()) {
            e.Push("GetOutputHandler failed for " + m_walk.m_unit.GetVolumeName());
            m_walk.m_unit.SetStatus(e);
            m_walk.m_context.Stop(m_walk.m_unit.GetVolumeName(), std::move(e));
            return false;
        }
        return true;
    }

    void WalkRoot(const CWalkRoot& root, std::vector<NodePtr>& pending);
    void WalkFolder(const NodePtr& node, std::vector<NodePtr>& children);

private:
    CScanContext& Context() { return m_walk.m_context; }
    CWorkUnit& Unit() { return m_walk.m_unit; }

    void BuildPaths(const Node& node);
    std::uint8_t EntryState(std::uint8_t folderState, const CWalkRoot& root, bool isFolder) const;
    bool MayEnterUnreported(std::uint8_t state, const CWalkRoot& root) const;
    CFindFirstItem& AcquireItem();
    // Hands the entry m_path (m_source) with `status` to the consumers.
    EConsumerAnswer DeliverEntry(const struct stat& status, bool mountPoint = false)
    {
        CFindFirstItem& item = AcquireItem();
        item.SetNames(m_path, m_source.empty() ? std::string_view(m_path) : std::string_view(m_source));
        item.SetStatus(status);
        item.SetMountPoint(mountPoint);
        const EConsumerAnswer answer = Context().Deliver(*m_handler, m_item, m_walk.m_unit);
        ReleaseItem();
        return answer;
    }
    void ReleaseItem()
    {
        // A consumer that kept the item owns it now; the next entry gets a new object.
        if (m_item.use_count() > 1) {
            m_item.reset();
            m_findFirst = nullptr;
        }
    }
    void ReportFailure(std::uint32_t mode, int errorNumber);
    // Opens the folder of `node` by the path BuildPaths made (no handle of its parent is held).
    int OpenByPath(const Node& node);
    // True when `fd` is the folder the parent's listing showed, by the descriptor's status;
    // otherwise reports the folder as changed during the scan (or the fstat failure) and
    // returns false. Asked only when the folder's own "." entry did not already say so.
    bool IsListedFolder(int fd, const Node& node);
    // Walks a folder the plan passes through (open as `fd`, m_path its path): true when done,
    // false when it must be read instead.
    bool PassThroughFolder(const NodePtr& node, int fd, std::vector<NodePtr>& children);
    // Asks the plan about the sub-folder m_path (m_source) the walk would enter: false when the
    // plan kept it; otherwise `childState` gets the plan's bits.
    bool AskPlan(std::uint8_t& childState);
    // `fd` becomes the handle the children from `firstChild` on are opened through, or is closed.
    void HandOverFolder(int fd, std::vector<NodePtr>& children, size_t firstChild);

    CFolderWalk& m_walk;
    CConsumerOutputHandlerPtr m_handler;
    std::unique_ptr<char[]> m_buffer;
    struct SStatted {
        const LinuxDirent64* entry;  // in m_buffer
        int statErrno;               // 0: status holds the entry's
        struct stat status;
    };
    SStatted m_batch[StatBatchSize];
    std::string m_path;    // local path of the current folder or entry
    std::string m_source;  // source path, kept only when the content mapper translates
    std::vector<const Node*> m_chain;
    CItemPtr m_item;                        // the reusable item; sole owner between entries
    CFindFirstItem* m_findFirst = nullptr;  // the same object, typed
};

namespace {
// True when the first entries of a folder's listing hold "." numbered `inode`.
bool DotIsInode(const char* buffer, long bytes, std::uint64_t inode)
{
    for (long offset = 0; offset < bytes;) {
        const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
        if (entry->d_name[0] == '.' && entry->d_name[1] == '\0')
            return entry->d_ino == inode;
        offset += entry->d_reclen;
    }
    return false;
}

}  // namespace

int CFolderWalk::OpenFolder(const std::string& path)
{
    if (path.size() < PATH_MAX - 1)
        return ::open(path.c_str(), FolderOpenFlags);
    return OpenInPieces(AT_FDCWD, path, 0, false);
}

void CFolderWalk::SetHeldFolderHandleLimit(int limit) { g_maxHeldFolderHandles.store(limit); }

void CFolderWalk::SetOneNameAtATime(bool oneName) { g_noOpenat2.store(oneName); }

int CFolderWalk::OpenFolderBelow(int base, const std::string& path, size_t pos)
{
    if (pos >= path.size())  // the folder itself: a descriptor of its own all the same
        return ::openat(base, ".", FolderOpenFlags);
    return OpenInPieces(base, path, pos, true);
}

CFolderWalk::CFolderWalk(CScanContext& context, CWorkUnit& unit, const std::vector<const CWalkRoot*>& roots)
    : m_context(context), m_unit(unit), m_roots(roots), m_plan(context.GetCallback().GetFolderReadPlan())
{
    m_trivialFilters = unit.HasNoExclusions();
    for (const CWalkRoot* root : roots)
        if (!root->TakesWholeTree())
            m_trivialFilters = false;
}

CFolderWalk::~CFolderWalk() = default;

void CFolderWalk::Run()
{
    Worker first(*this);
    if (!first.Start())
        return;
    // The roots are reported before any folder-level worker starts, so a root answered
    // "do not enter" is never walked.
    std::vector<NodePtr> pending;
    for (const CWalkRoot* root : m_roots) {
        if (m_context.PollStop())
            return;
        first.WalkRoot(*root, pending);
    }
    {
        std::lock_guard lock(m_pendingLock);
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            m_pending.push_back(std::move(*it));
    }
    pending.clear();

    const int workers = m_unit.GetMaxWorkers();
    std::vector<std::thread> threads;
    {
        // A new thread inherits the file-system ids of the one that creates it: create them
        // with the process's own, and let each take the walk's identity itself.
        CFileSystemIdentity::COwnCredentials own;
        for (int i = 1; i < workers; ++i)
            threads.emplace_back([this]() {
                CFileSystemIdentity::CAssumed asUser(m_context.GetWalkIdentity());
                Worker worker(*this);
                if (asUser.GetStatus().IsSuccess() && worker.Start())
                    WorkerLoop(worker);
                else {
                    std::lock_guard lock(m_pendingLock);
                    m_pendingReady.notify_all();
                }
            });
    }
    WorkerLoop(first);
    for (std::thread& thread : threads)
        thread.join();
}

KX_HOT_PATH void CFolderWalk::WorkerLoop(Worker& worker)
{
    std::vector<NodePtr> children;
    std::unique_lock lock(m_pendingLock);
    for (;;) {
        while (m_pending.empty() && m_busy > 0 && !m_context.IsStopped()) {
            ++m_waiting;
            m_pendingReady.wait(lock);
            --m_waiting;
        }
        if (m_context.IsStopped() || (m_pending.empty() && m_busy == 0)) {
            m_pendingReady.notify_all();
            return;
        }
        NodePtr node = std::move(m_pending.back());
        m_pending.pop_back();
        ++m_busy;
        lock.unlock();

        if (!m_context.PollStop())
            worker.WalkFolder(node, children);
        node.reset();

        lock.lock();
        --m_busy;
        // Reverse order keeps the walk close to listing order for one worker.
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            m_pending.push_back(std::move(*it));
        const size_t pushed = children.size();
        children.clear();
        if (m_waiting > 0 && (pushed > 0 || m_busy == 0 || m_context.IsStopped()))
            m_pendingReady.notify_all();
    }
}

void CFolderWalk::Worker::BuildPaths(const Node& node)
{
    m_chain.clear();
    for (const Node* n = &node; n; n = n->parent.get())
        m_chain.push_back(n);
    m_path.clear();
    for (auto it = m_chain.rbegin(); it != m_chain.rend(); ++it) {
        if (it != m_chain.rbegin() && (m_path.empty() || m_path.back() != '/'))
            m_path.push_back('/');
        m_path.append((*it)->name);
    }
    const CWalkRoot& root = *node.root;
    if (root.GetSourcePath() != root.GetLocalPath()) {
        m_source = root.GetSourcePath();
        m_source.append(m_path, root.GetLocalPath().size(), std::string::npos);
    } else {
        m_source.clear();
    }
}

KX_HOT_PATH std::uint8_t CFolderWalk::Worker::EntryState(std::uint8_t state, const CWalkRoot& root, bool isFolder) const
{
    if (m_walk.m_trivialFilters)
        return state;
    const CWorkUnit& unit = m_walk.m_unit;
    if (!(state & InContent) && root.GetContentPatterns().FilterMatches(m_path, isFolder))
        state |= InContent;
    if (unit.GetFilters().HasFilters()) {
        switch (unit.GetFilters().Decide(m_path, isFolder)) {
        case CFilterSet::EDecision::Excepted: state &= ~FilterExcluded; break;
        case CFilterSet::EDecision::Filtered: state |= FilterExcluded; break;
        case CFilterSet::EDecision::None: break;
        }
    }
    if (unit.GetSystemFilters().HasFilters()) {
        switch (unit.GetSystemFilters().Decide(m_path, isFolder)) {
        case CFilterSet::EDecision::Excepted: state &= ~SystemExcluded; break;
        case CFilterSet::EDecision::Filtered: state |= SystemExcluded; break;
        case CFilterSet::EDecision::None: break;
        }
    }
    if (unit.GetContentExceptions().HasFilters() && unit.GetContentExceptions().FilterMatches(m_path, isFolder))
        state |= ContentExcluded;
    return state;
}

bool CFolderWalk::Worker::MayEnterUnreported(std::uint8_t state, const CWalkRoot& root) const
{
    const CWorkUnit& unit = m_walk.m_unit;
    if (state & ContentExcluded)
        return false;
    if (!(state & InContent) && !root.GetContentPatterns().FilterCouldMatchBelow(m_path))
        return false;
    if ((state & FilterExcluded) && !unit.GetFilters().ExceptionCouldMatchBelow(m_path))
        return false;
    if ((state & SystemExcluded) && !unit.GetSystemFilters().ExceptionCouldMatchBelow(m_path))
        return false;
    return true;
}

KX_HOT_PATH CFindFirstItem& CFolderWalk::Worker::AcquireItem()
{
    if (!m_item) {
        auto item = std::make_shared<CFindFirstItem>();
        item->SetWorkUnitBag(m_walk.m_unit.GetBag());
        m_findFirst = item.get();
        m_item = std::move(item);
    } else {
        m_findFirst->Reset();
    }
    return *m_findFirst;
}

int CFolderWalk::Worker::OpenByPath(const Node& node)
{
    if (!node.parent)
        return OpenRootFolder(*node.root);
    // The root's path is the operator's (a link on the way there is theirs to set); below it
    // every name must be the folder itself, never a link a user put in its place.
    const int rootFd = OpenRootFolder(*node.root);
    if (rootFd < 0)
        return -1;
    size_t below = node.root->GetLocalPath().size();
    if (below < m_path.size() && m_path[below] == '/')
        ++below;
    const int fd = OpenFolderBelow(rootFd, m_path, below);
    const int openErrno = errno;
    ::close(rootFd);
    errno = openErrno;
    return fd;
}

bool CFolderWalk::Worker::IsListedFolder(int fd, const Node& node)
{
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        ReportFailure(S_IFDIR, errno);
        return false;
    }
    if (opened.st_dev == node.device && opened.st_ino == node.inode)
        return true;
    // Opening a folder that already was a mount point can mount a file system over it (an
    // automount): a new device under the same name is that, not a swap, which cannot move a
    // mount point.
    const bool wasMountPoint = !node.parent || node.device != node.parent->device;
    if (wasMountPoint && opened.st_dev != node.device)
        return true;
    FSLOG(1, "Folder [%s] changed during the scan: listed as device %llu inode %llu, opened device %llu inode %llu",
          m_path.c_str(), static_cast<unsigned long long>(node.device), static_cast<unsigned long long>(node.inode),
          static_cast<unsigned long long>(opened.st_dev), static_cast<unsigned long long>(opened.st_ino));
    ReportFailure(S_IFDIR, ChangedDuringScan);
    return false;
}

void CFolderWalk::Worker::ReportFailure(std::uint32_t mode, int errorNumber)
{
    auto item = std::make_shared<CFindFirstItem>();
    item->SetNames(m_path, m_source.empty() ? std::string_view(m_path) : std::string_view(m_source));
    item->SetFileMode(mode);
    item->SetWorkUnitBag(m_walk.m_unit.GetBag());
    m_walk.m_unit.CountFailure();
    (void)Context().ReportFailure(item, errorNumber);
}

void CFolderWalk::Worker::WalkRoot(const CWalkRoot& root, std::vector<NodePtr>& pending)
{
    m_path = root.GetLocalPath();
    if (root.GetSourcePath() != root.GetLocalPath())
        m_source = root.GetSourcePath();
    else
        m_source.clear();

    struct stat status {};
    if (const int error = LookAtRoot(root, status); error != 0) {
        // What a root that cannot be looked at is, nobody knows: it is not listed as a folder.
        ReportFailure(0, error);
        return;
    }
    const bool isFolder = S_ISDIR(status.st_mode);
    const CWorkUnit& unit = m_walk.m_unit;
    std::uint8_t state = 0;
    if (root.TakesWholeTree() || root.GetContentPatterns().FilterMatches(m_path, isFolder))
        state |= InContent;
    if (unit.GetFilters().Contains(m_path, isFolder))
        state |= FilterExcluded;
    if (unit.GetSystemFilters().Contains(m_path, isFolder))
        state |= SystemExcluded;
    if (unit.GetContentExceptions().Contains(m_path, isFolder))
        state |= ContentExcluded;
    // A root is always read; below it the plan, if any, decides folder by folder.
    if (!m_walk.m_plan || m_walk.m_plan->ReadsEverything())
        state |= ReadWhole;

    bool enter = false;
    if (IsReported(state)) {
        const EConsumerAnswer answer = DeliverEntry(status);
        if (answer == EConsumerAnswer::Taken)
            m_walk.m_unit.CountItem(isFolder);
        enter = isFolder && answer == EConsumerAnswer::Taken;
    } else if (isFolder) {
        enter = MayEnterUnreported(state, root);
    }
    if (enter && !Context().IsStopped())
        pending.push_back(std::make_shared<Node>(nullptr, root.GetLocalPath(), &root, status, state));
}

KX_HOT_PATH void CFolderWalk::Worker::WalkFolder(const NodePtr& node, std::vector<NodePtr>& children)
{
    const CWalkRoot& root = *node->root;
    int fd;
    if (node->parentFolder) {
        const FolderHandle& parent = *node->parentFolder;
        m_path.assign(parent.path);
        if (m_path.back() != '/')
            m_path.push_back('/');
        m_path.append(node->name);
        if (root.GetSourcePath() != root.GetLocalPath()) {
            m_source = root.GetSourcePath();
            m_source.append(m_path, root.GetLocalPath().size(), std::string::npos);
        } else {
            m_source.clear();
        }
        fd = ::openat(parent.fd, node->name.c_str(), FolderOpenFlags);
        const int openErrno = errno;
        node->parentFolder.reset();
        errno = openErrno;
    } else {
        BuildPaths(*node);
        fd = OpenByPath(*node);
    }
    if (fd < 0) {
        // The listing showed a folder: a link or something else in its place now is a change.
        const int openErrno = errno;
        ReportFailure(S_IFDIR, openErrno == ELOOP || openErrno == ENOTDIR ? ChangedDuringScan : openErrno);
        return;
    }
    if ((node->state & PassThrough) && PassThroughFolder(node, fd, children)) [[unlikely]]
        return;
    const size_t firstChild = children.size();
    if (m_path.back() != '/')
        m_path.push_back('/');
    const size_t pathBase = m_path.size();
    if (!m_source.empty() && m_source.back() != '/')
        m_source.push_back('/');
    const size_t sourceBase = m_source.size();
    const bool followMounts = Context().GetFollowMountPaths();

    unsigned sincePoll = 0;
    std::uint64_t takenItems = 0;
    std::uint64_t takenFolders = 0;
    // Counted locally and added once per folder: the unit's counters are shared by all its
    // workers, and one shared increment per item costs more than the rest of the loop.
    struct CountOnExit {
        CWorkUnit& unit;
        std::uint64_t& items;
        std::uint64_t& folders;
        ~CountOnExit() { unit.CountItems(items, folders); }
    } countOnExit{m_walk.m_unit, takenItems, takenFolders};
    bool checked = false;
    for (;;) {
        const long bytes = ::syscall(SYS_getdents64, fd, m_buffer.get(), DirectoryBufferSize);
        if (!checked && bytes > 0) {
            // Nothing of the folder is handed on before it is known to be the one listed: its
            // own "." entry says so for free where the file system numbers it like the folder
            // (as the usual ones do); otherwise the descriptor's status decides.
            checked = true;
            if (!DotIsInode(m_buffer.get(), bytes, node->inode)) {
                m_path.resize(pathBase > 1 ? pathBase - 1 : pathBase);
                const bool listed = IsListedFolder(fd, *node);
                m_path.resize(pathBase);
                if (!listed) {
                    ::close(fd);
                    return;
                }
            }
        }
        if (bytes == 0)
            break;
        if (bytes < 0) {
            if (errno == EINTR)
                continue;
            const int readErrno = errno;
            m_path.resize(pathBase > 1 ? pathBase - 1 : pathBase);
            if (!m_source.empty())
                m_source.resize(sourceBase > 1 ? sourceBase - 1 : sourceBase);
            ReportFailure(S_IFDIR, readErrno);
            break;
        }
        for (long offset = 0; offset < bytes;) {
            // The entries are looked up a batch at a time and then handed on: each system call
            // evicts much of what the processor cached of the consumers' code and data, so the
            // consumers run over the batch while they stay cached instead of once per call.
            size_t batched = 0;
            while (offset < bytes && batched < StatBatchSize) {
                const auto* entry = reinterpret_cast<const LinuxDirent64*>(m_buffer.get() + offset);
                offset += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                SStatted& looked = m_batch[batched++];
                looked.entry = entry;
                looked.statErrno = ::fstatat(fd, name, &looked.status, AT_SYMLINK_NOFOLLOW) != 0 ? errno : 0;
            }
            for (size_t b = 0; b < batched; ++b) {
                const SStatted& looked = m_batch[b];
                const char* name = looked.entry->d_name;
                if (Context().IsStopped() ||
                    (++sincePoll == EntriesPerAbortPoll && (sincePoll = 0, Context().PollStop()))) {
                    ::close(fd);
                    children.resize(firstChild);
                    return;
                }
                const size_t nameLength = std::strlen(name);
                m_path.resize(pathBase);
                m_path.append(name, nameLength);
                if (!m_source.empty()) {
                    m_source.resize(sourceBase);
                    m_source.append(name, nameLength);
                }

                if (looked.statErrno != 0) {
                    const std::uint32_t mode = ModeOfDirentType(looked.entry->d_type);
                    if (IsReported(EntryState(node->state, root, S_ISDIR(mode))))
                        ReportFailure(mode, looked.statErrno);
                    continue;
                }
                const struct stat& status = looked.status;
                const bool isFolder = S_ISDIR(status.st_mode);
                if (status.st_nlink > 1 && !isFolder && m_walk.m_plan) [[unlikely]]
                    m_walk.m_plan->OnMultiLink(m_source.empty() ? std::string_view(m_path).substr(0, pathBase)
                                                                : std::string_view(m_source).substr(0, sourceBase),
                                               status.st_dev, status.st_ino);
                const bool mountPoint = isFolder && status.st_dev != node->device;
                const std::uint8_t state = EntryState(node->state, root, isFolder);

                bool enter = false;
                if (IsReported(state)) {
                    const EConsumerAnswer answer = DeliverEntry(status, mountPoint);
                    if (answer == EConsumerAnswer::Taken) {
                        ++takenItems;
                        takenFolders += isFolder ? 1 : 0;
                    }
                    enter = isFolder && answer == EConsumerAnswer::Taken && (!mountPoint || followMounts);
                } else if (isFolder && !mountPoint) {
                    enter = MayEnterUnreported(state, root);
                }
                std::uint8_t childState = state;
                if (enter && !(state & ReadWhole)) [[unlikely]]
                    enter = AskPlan(childState);
                if (enter)
                    children.push_back(
                        std::make_shared<Node>(node, std::string_view(name, nameLength), &root, status, childState));
            }
        }
    }
    m_path.resize(pathBase > 1 ? pathBase - 1 : pathBase);
    HandOverFolder(fd, children, firstChild);
}

bool CFolderWalk::Worker::AskPlan(std::uint8_t& childState)
{
    switch (m_walk.m_plan->Enter(m_source.empty() ? m_path : m_source)) {
    case CFolderReadPlan::ERead::Kept: return false;
    case CFolderReadPlan::ERead::ReadWhole: childState |= ReadWhole; break;
    case CFolderReadPlan::ERead::PassThrough: childState |= PassThrough; break;
    case CFolderReadPlan::ERead::Read: break;
    }
    return true;
}

void CFolderWalk::Worker::HandOverFolder(int fd, std::vector<NodePtr>& children, size_t firstChild)
{
    if (children.size() > firstChild) {
        if (std::shared_ptr<FolderHandle> held = HoldFolder(fd, m_path)) {
            for (size_t i = firstChild; i < children.size(); ++i)
                children[i]->parentFolder = held;
            return;
        }
    }
    ::close(fd);
}

bool CFolderWalk::Worker::PassThroughFolder(const NodePtr& node, int fd, std::vector<NodePtr>& children)
{
    // Without a listing, nothing says for free that the folder opened is the one its parent
    // holds: the descriptor's status does.
    if (!IsListedFolder(fd, *node)) {
        ::close(fd);
        return true;
    }
    node->state &= ~PassThrough;  // from here on a failure means reading the folder
    CFolderReadPlan& plan = *m_walk.m_plan;
    const std::string folder = m_source.empty() ? m_path : m_source;
    const std::vector<std::string> wayDown = plan.WayDown(folder);
    std::vector<struct stat> statuses(wayDown.size());
    for (size_t i = 0; i < wayDown.size(); ++i) {
        // A name that is no longer a folder of this file system, or cannot be looked at, is
        // for the reading of the folder to report as it does.
        struct stat& status = statuses[i];
        if (::fstatat(fd, wayDown[i].c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_dev != node->device)
            return false;
    }
    if (!plan.Pass(folder, wayDown))
        return false;
    const CWalkRoot& root = *node->root;
    const size_t firstChild = children.size();
    const size_t pathBase = m_path.size();
    const size_t sourceBase = m_source.size();
    auto join = [](std::string& path, size_t base, const std::string& name) {
        path.resize(base);
        if (path.back() != '/')
            path.push_back('/');
        path.append(name);
    };
    for (size_t i = 0; i < wayDown.size(); ++i) {
        join(m_path, pathBase, wayDown[i]);
        if (!m_source.empty())
            join(m_source, sourceBase, wayDown[i]);
        std::uint8_t childState = EntryState(node->state, root, true);
        const bool reported = IsReported(childState);
        if ((!reported && !MayEnterUnreported(childState, root)) || !AskPlan(childState))
            continue;
        // A sub-folder passed through as well is unchanged, its entry kept with this folder's
        // records. One the plan reads had its entries changed, and with them its own times:
        // its entry is handed on again, and this record wins over the kept one.
        if (reported && !(childState & PassThrough)) {
            if (DeliverEntry(statuses[i]) != EConsumerAnswer::Taken)
                continue;
            m_walk.m_unit.CountItem(true);
        }
        children.push_back(std::make_shared<Node>(node, wayDown[i], &root, statuses[i], childState));
    }
    m_path.resize(pathBase);
    if (!m_source.empty())
        m_source.resize(sourceBase);
    HandOverFolder(fd, children, firstChild);
    return true;
}
