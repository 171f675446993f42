#include "Journal/JournalDaemon.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/un.h>
#include <unistd.h>

#include "Agent/InstancePaths.h"
#include "Base/DirChangePathOrder.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/FileNameEscaping.h"
#include "Base/MountTable.h"
#include "Journal/JournalFormat.h"

namespace {

constexpr uint64_t kEvents = FAN_CREATE | FAN_DELETE | FAN_MOVED_FROM | FAN_MOVED_TO | FAN_MODIFY | FAN_ATTRIB |
                             FAN_CLOSE_WRITE | FAN_DELETE_SELF | FAN_MOVE_SELF | FAN_ONDIR;
constexpr int64_t kSyncEveryMs = 1000;
// After a drain the queue is left to fill for this long: a wake-up per handful of events costs
// more than the events (measured: most of the daemon's time went to task switches). At 500,000
// events a second that is 5,000 events, well within the kernel's queue of 16,384.
constexpr int64_t kBatchPauseMs = 10;
constexpr size_t kEventBuffer = 256 * 1024;
constexpr size_t kMaxRequest = 64 * 1024;
constexpr size_t kMaxWritten = 1 << 20;               // folders remembered between two syncs
constexpr uint64_t kMaxJournalSize = 256ull << 20;    // a journal no scan reads stops growing here

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The first whole second at or after now: the marks are in place from then on.
int64_t CompleteSince()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec + (ts.tv_nsec > 0 ? 1 : 0);
}

void Say(const std::string& line) { std::fprintf(stderr, "fsjournald: %s\n", line.c_str()); }

uint64_t FsidOf(const fsid_t& fsid)
{
    uint64_t value = 0;
    static_assert(sizeof fsid == sizeof value);
    std::memcpy(&value, &fsid, sizeof value);
    return value;
}

// Marks the file system holding the folder `path` (opened without following a link, the mark
// and the handle taken through the descriptor), once per file system; adds its id to `fsids`
// and, with `rootKeys`, the folder's handle key. Answers why it cannot, or "".
std::string MarkFileSystem(int fan, const std::string& path, CFolderHandleResolver& resolver,
                           std::unordered_map<uint64_t, bool>& marked, std::vector<uint64_t>& fsids,
                           std::vector<std::string>* rootKeys)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct statfs sfs {};
    if (fd < 0 || ::fstatfs(fd, &sfs) != 0) {
        const std::string why = "[" + path + "] cannot be opened: " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return why;
    }
    const uint64_t fsid = FsidOf(sfs.f_fsid);
    if (rootKeys) {
        struct {
            file_handle head;
            unsigned char bytes[MAX_HANDLE_SZ];
        } handle {};
        handle.head.handle_bytes = MAX_HANDLE_SZ;
        int mountId = 0;
        if (::name_to_handle_at(fd, "", &handle.head, &mountId, AT_EMPTY_PATH) == 0)
            CFolderHandleResolver::Key(fsid, handle.head, rootKeys->emplace_back());
    }
    const auto [slot, added] = marked.try_emplace(fsid, false);
    if (added && ::fanotify_mark(fan, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kEvents, fd, nullptr) == 0) {
        slot->second = true;
        resolver.AddMount(fsid, fd);  // kept: the resolver opens handles through it
    } else {
        const int err = errno;
        ::close(fd);
        if (!slot->second)
            return "[" + path + "]: the file system cannot be watched" + (added ? std::string(": ") + std::strerror(err) : "");
    }
    fsids.push_back(fsid);
    return std::string();
}

// `realPath` (at or below the root's real path, or its parent) as the content names it.
std::string ContentPath(std::string_view realPath, const SJournalRoot& root)
{
    if (realPath.size() < root.real.size())
        return FXPath::Parent(root.configured);  // the parent of the root itself
    return FXPath::Append(root.configured, realPath.substr(root.real.size()));
}

// Whether the process holds CAP_SYS_ADMIN (bit 21 of CapEff in /proc/self/status).
bool HasSysAdmin()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with("CapEff:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> 21) & 1;
    return false;
}

bool IsStrictlyBelow(std::string_view path, std::string_view folder)
{
    return path.size() != folder.size() && DirChangePathOrder::IsSameOrBelow(folder, path);
}

// The component of `path` right below its ancestor `folder` ("/a", "/a/b/c" -> "b").
std::string_view NextComponent(std::string_view folder, std::string_view path)
{
    std::string_view rest = path.substr(folder == "/" ? 1 : folder.size() + 1);
    return rest.substr(0, rest.find('/'));
}

}  // namespace

CJournalDaemon::~CJournalDaemon()
{
    for (int fd : {m_fanotify, m_signals, m_mountInfo, m_listener})
        if (fd >= 0)
            ::close(fd);
    for (SClient& client : m_clients)
        ::close(client.fd);
    if (!m_socketPath.empty())
        ::unlink(m_socketPath.c_str());
}

CKxError CJournalDaemon::Start()
{
    KX_RETURN_IF_ERROR(JournalFormat::NewRunId(m_runId));
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    m_signals = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_signals < 0)
        return CKxError::FromErrno(errno, "signalfd failed");
    m_mountInfo = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_mountInfo < 0)
        return CKxError::FromErrno(errno, "open failed for [/proc/self/mountinfo]");
    // Unprivileged fanotify exists, but not with file-system marks: say so before anything.
    if (!HasSysAdmin())
        return CKxError(EPERM, "fanotify file-system marks need CAP_SYS_ADMIN");
    KX_RETURN_IF_ERROR(Mark(std::string()));
    KX_RETURN_IF_ERROR(Listen());
    m_lastSyncMs = NowMs();
    return CKxError::Success();
}

CKxError CJournalDaemon::Mark(const std::string& brokenCause)
{
    std::vector<SJournalTarget> targets;
    std::vector<std::string> refused;
    KX_RETURN_IF_FAILED(CJournalTargets::Load(targets, refused), "Cannot read the subclients that keep a change journal");
    for (const std::string& line : refused)
        Say("no change journal for " + line + ": its scans walk");

    std::string mountText;
    KX_RETURN_IF_ERROR(FXFile::ReadWholeFile(CMountTable::kPath, mountText));
    const std::vector<SMountEntry> mounts = CMountTable::Parse(mountText);
    const int fan = ::fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_REPORT_DFID_NAME | FAN_REPORT_FID,
                                    O_RDONLY | O_LARGEFILE);
    if (fan < 0)
        return CKxError::FromErrno(errno, "fanotify_init failed");
    auto resolver = std::make_unique<CFolderHandleResolver>();
    std::unordered_map<uint64_t, bool> marked;  // fsid -> marked (false: marking failed)
    std::vector<std::unique_ptr<SJournal>> journals;
    for (SJournalTarget& target : targets) {
        auto journal = std::make_unique<SJournal>();
        std::string why;
        for (const SJournalRoot& root : target.roots) {
            // The root's own file system, and those mounted below it that a scan enters.
            std::vector<std::string> paths{root.real};
            for (const SMountEntry& mount : mounts)
                if (IsStrictlyBelow(mount.mountPoint, root.real) && !CMountTable::IsSkippedType(mount.fsType))
                    paths.push_back(mount.mountPoint);
            for (const std::string& path : paths) {
                why = MarkFileSystem(fan, path, *resolver, marked, journal->fsids,
                                     path == root.real ? &journal->rootKeys : nullptr);
                if (!why.empty())
                    break;
            }
            if (!why.empty())
                break;
        }
        if (!why.empty()) {
            Say("no change journal for " + target.application + ": " + why + ": its scans walk");
            continue;
        }
        journal->target = std::move(target);
        journals.push_back(std::move(journal));
    }
    const int64_t since = CompleteSince();

    // Carry the journals that stay (broken: events were missed while the marks changed); start
    // the new ones; end those no longer asked for.
    for (auto& journal : journals) {
        auto old = std::find_if(m_journals.begin(), m_journals.end(), [&](const auto& j) {
            return j && j->target.resultsFolder == journal->target.resultsFolder;
        });
        if (old != m_journals.end()) {
            (*old)->target = std::move(journal->target);
            (*old)->fsids = std::move(journal->fsids);
            (*old)->rootKeys = std::move(journal->rootKeys);
            journal = std::move(*old);
            Break(*journal, brokenCause);
            continue;
        }
        uint64_t& sequence = m_lastSequence[journal->target.resultsFolder];
        CKxError e = journal->writer.Start(journal->target.resultsFolder, m_runId, ++sequence, since);
        if (e.IsError()) {
            Say("no change journal for " + journal->target.application + ": " + e.OneLine());
            journal.reset();
        }
    }
    for (auto& old : m_journals)
        if (old) {
            old->writer.AddBroken("the subclient no longer keeps a change journal");
            [[maybe_unused]] CKxError e = old->writer.Flush();
        }
    journals.erase(std::remove(journals.begin(), journals.end(), nullptr), journals.end());
    m_journals = std::move(journals);
    m_rootHandles.clear();
    for (auto& journal : m_journals)
        for (const std::string& key : journal->rootKeys)
            m_rootHandles[key].push_back(journal.get());
    m_resolver = std::move(resolver);
    if (m_fanotify >= 0)
        ::close(m_fanotify);
    m_fanotify = fan;
    m_mountsOfContent = MountsOfContent(mounts);
    return CKxError::Success();
}

std::string CJournalDaemon::MountsOfContent(const std::vector<SMountEntry>& mounts) const
{
    std::string text;
    for (const auto& journal : m_journals)
        for (const SJournalRoot& root : journal->target.roots)
            for (const SMountEntry& mount : mounts)
                if (DirChangePathOrder::IsSameOrBelow(mount.mountPoint, root.real) ||
                    IsStrictlyBelow(mount.mountPoint, root.real)) {
                    text += mount.mountPoint + '\0' + mount.fsType + '\0' + mount.source + '\0' +
                            std::to_string(mount.device) + '\n';
                }
    return text;
}

CKxError CJournalDaemon::OnMountTableChange()
{
    // Hosts mount and unmount all day (containers, removable media, other jobs' snapshots): only
    // a change that can hide, reveal or replace content is worth every journal.
    std::string mountText;
    KX_RETURN_IF_ERROR(FXFile::ReadWholeFile(CMountTable::kPath, mountText));
    if (MountsOfContent(CMountTable::Parse(mountText)) == m_mountsOfContent)
        return CKxError::Success();
    KX_RETURN_IF_ERROR(DrainEvents());
    return Mark("mount table changed");
}

CKxError CJournalDaemon::Listen()
{
    const std::string runFolder = CInstancePaths::RunFolder();
    KX_RETURN_IF_ERROR(FXFile::CreateDirectories(runFolder, 0700));
    const int folderFd = ::open(runFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return CKxError::FromErrno(errno, "open failed for [" + runFolder + "]");
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // Reached through the folder's descriptor: no path length limit, no link followed on the way.
    const std::string address = "/proc/self/fd/" + std::to_string(folderFd) + "/" + JournalFormat::kSocketName;
    sockaddr_un sa {};
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path, address.c_str(), address.size() + 1);
    CKxError e;
    if (m_listener < 0) {
        e = CKxError::FromErrno(errno, "socket failed");
    } else {
        // A socket left by a daemon that died is replaced; one that answers is another daemon.
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0)
            e = CKxError(EADDRINUSE, "another fsjournald serves this instance [" + runFolder + "]");
        if (probe >= 0)
            ::close(probe);
        if (e.IsSuccess()) {
            ::unlinkat(folderFd, JournalFormat::kSocketName, 0);
            const mode_t mask = ::umask(0077);  // only root may connect
            if (::bind(m_listener, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(m_listener, 64) != 0)
                e = CKxError::FromErrno(errno, "cannot listen on [" + FXPath::Append(runFolder, JournalFormat::kSocketName) + "]");
            ::umask(mask);
        }
    }
    ::close(folderFd);
    if (e.IsSuccess())
        m_socketPath = FXPath::Append(runFolder, JournalFormat::kSocketName);
    return e;
}

CKxError CJournalDaemon::Run()
{
    for (;;) {
        const int64_t now = NowMs();
        const bool readEvents = now >= m_nextEventReadMs;
        std::vector<pollfd> fds = {{readEvents ? m_fanotify : -1, POLLIN, 0}, {m_signals, POLLIN, 0},
                                   {m_mountInfo, POLLPRI, 0}, {m_listener, POLLIN, 0}};
        for (const SClient& client : m_clients)
            fds.push_back({client.fd, POLLIN, 0});
        int64_t timeout = m_unsynced ? std::max<int64_t>(0, m_lastSyncMs + kSyncEveryMs - now) : -1;
        if (!readEvents)
            timeout = timeout < 0 ? m_nextEventReadMs - now : std::min(timeout, m_nextEventReadMs - now);
        if (::poll(fds.data(), fds.size(), static_cast<int>(timeout)) < 0 && errno != EINTR)
            return CKxError::FromErrno(errno, "poll failed");
        if (fds[1].revents) {
            signalfd_siginfo info {};
            if (::read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo != SIGHUP)
                    return Stop();
                KX_RETURN_IF_ERROR(DrainEvents());
                KX_RETURN_IF_FAILED(Mark("configuration re-read"), "Cannot re-read the configuration");
            }
        }
        if (fds[2].revents & (POLLPRI | POLLERR))
            KX_RETURN_IF_FAILED(OnMountTableChange(), "Cannot mark the file systems again");
        if (fds[0].revents) {
            KX_RETURN_IF_ERROR(DrainEvents());
            m_nextEventReadMs = NowMs() + kBatchPauseMs;
        }
        if (fds[3].revents) {
            for (;;) {
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                ucred peer {};
                socklen_t len = sizeof peer;
                if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 ||
                    (peer.uid != 0 && peer.uid != ::geteuid())) {
                    ::close(fd);
                    continue;
                }
                m_clients.push_back({fd, std::string()});
            }
        }
        for (size_t i = 4; i < fds.size(); ++i)
            if (fds[i].revents)
                Serve(m_clients[i - 4]);
        m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(), [](const SClient& c) { return c.fd < 0; }),
                        m_clients.end());
        KX_RETURN_IF_ERROR(FlushAll());
        if (m_unsynced && NowMs() - m_lastSyncMs >= kSyncEveryMs)
            KX_RETURN_IF_ERROR(SyncAll());
    }
}

CKxError CJournalDaemon::DrainEvents()
{
    m_eventBuffer.resize(kEventBuffer);  // operator new's alignment suits the event records
    char* buffer = m_eventBuffer.data();
    for (;;) {
        const ssize_t n = ::read(m_fanotify, buffer, m_eventBuffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                return CKxError::Success();
            return CKxError::FromErrno(errno, "read failed for the fanotify events");
        }
        ssize_t left = n;
        // Records are 4-byte aligned (handles and names have any length) while the header holds a
        // 64-bit mask: each header is copied out before it is read.
        for (ssize_t at = 0; left - at >= static_cast<ssize_t>(sizeof(fanotify_event_metadata));) {
            fanotify_event_metadata event;
            std::memcpy(&event, buffer + at, sizeof event);
            if (event.event_len < sizeof event || event.event_len > static_cast<size_t>(left - at))
                break;
            HandleEvent(event, buffer + at);
            at += event.event_len;
        }
    }
}

void CJournalDaemon::HandleEvent(const fanotify_event_metadata& event, const char* record)
{
    ++m_events;
    if (event.fd >= 0)
        ::close(event.fd);
    if (event.vers != FANOTIFY_METADATA_VERSION)
        return BreakAll("event of unknown format " + std::to_string(event.vers));
    if (event.mask & FAN_Q_OVERFLOW)
        return BreakAll("event queue overflowed");
    if (event.pid == ::getpid())
        return;  // the daemon's own journal writes
    const char* info = record + event.metadata_len;
    const char* end = record + event.event_len;
    const fanotify_event_info_fid* fid = nullptr;
    const fanotify_event_info_fid* objectFid = nullptr;
    std::string_view name = ".";
    while (info + sizeof(fanotify_event_info_header) <= end) {
        const auto* header = reinterpret_cast<const fanotify_event_info_header*>(info);
        if (header->len == 0)
            break;
        if (header->info_type == FAN_EVENT_INFO_TYPE_DFID_NAME || header->info_type == FAN_EVENT_INFO_TYPE_DFID) {
            fid = reinterpret_cast<const fanotify_event_info_fid*>(info);
            if (header->info_type == FAN_EVENT_INFO_TYPE_DFID_NAME) {
                const auto* handle = reinterpret_cast<const file_handle*>(fid->handle);
                name = reinterpret_cast<const char*>(handle->f_handle + handle->handle_bytes);
            }
        } else if (header->info_type == FAN_EVENT_INFO_TYPE_FID) {
            objectFid = reinterpret_cast<const fanotify_event_info_fid*>(info);
        }
        info += header->len;
    }
    if (!fid) {
        if (objectFid && !(event.mask & FAN_ONDIR))
            HandleFileWithoutFolder(*objectFid);
        return;
    }
    uint64_t fsid = 0;
    std::memcpy(&fsid, &fid->fsid, sizeof fsid);
    const auto& handle = *reinterpret_cast<const file_handle*>(fid->handle);
    const bool self = name == ".";
    const bool folder = event.mask & FAN_ONDIR;

    if (self && (event.mask & (FAN_DELETE_SELF | FAN_MOVE_SELF))) {
        std::string key;
        CFolderHandleResolver::Key(fsid, handle, key);
        if (const auto roots = m_rootHandles.find(key); roots != m_rootHandles.end())
            for (SJournal* journal : roots->second)
                Break(*journal, "content root moved or deleted");
    }
    std::string_view path;
    int error = 0;
    const CFolderHandleResolver::EResult result = m_resolver->Resolve(fsid, handle, path, error);
    const bool entryMoved = !self && folder && (event.mask & (FAN_MOVED_FROM | FAN_MOVED_TO | FAN_DELETE));
    if (result != CFolderHandleResolver::EResolved) {
        // A folder moved out of a folder that is gone: which cached paths lay below it is not
        // known, so none is kept. (A deleted folder's handles die with it and need no forgetting.)
        if ((folder && (event.mask & (FAN_MOVED_FROM | FAN_MOVED_TO))) || (self && (event.mask & FAN_MOVE_SELF)))
            m_resolver->ForgetAll();
        if (result == CFolderHandleResolver::EFailed) {
            const std::string cause = std::string("folder handle could not be resolved: ") + std::strerror(error);
            for (auto& journal : m_journals)
                if (std::find(journal->fsids.begin(), journal->fsids.end(), fsid) != journal->fsids.end())
                    Break(*journal, cause);
        }
        return;  // gone: its removal is journaled where it was held
    }
    const bool nearContent = std::any_of(m_journals.begin(), m_journals.end(), [path](const auto& journal) {
        return std::any_of(journal->target.roots.begin(), journal->target.roots.end(), [path](const SJournalRoot& root) {
            return DirChangePathOrder::IsSameOrBelow(root.real, path) || DirChangePathOrder::IsSameOrBelow(path, root.real);
        });
    });
    if (!nearContent && !entryMoved && !(self && (event.mask & FAN_MOVE_SELF)))
        return;  // the common case on a busy file system: nothing to journal, nothing to forget
    const std::string folderPath(path);  // the resolver's text moves on the next resolution
    std::string entryPath;
    if (!self)
        DirChangePathOrder::AppendJoined(folderPath, name, entryPath);
    for (auto& journal : m_journals) {
        if (journal->broken)
            continue;
        for (const SJournalRoot& root : journal->target.roots) {
            if (DirChangePathOrder::IsSameOrBelow(root.real, folderPath)) {
                if (self) {
                    if (event.mask & FAN_ATTRIB)  // a folder's own record lies in its parent's block
                        AddFolder(*journal, FXPath::Parent(folderPath), root);
                    continue;
                }
                AddFolder(*journal, folderPath, root);
                // A folder moved in may take the place of one the last scan knew (a rename over an
                // empty folder), and events merged in the queue may have named its old path: its
                // entries are read at the new path.
                if (folder && (event.mask & FAN_MOVED_TO))
                    AddFolder(*journal, entryPath, root);
            } else if (!self && IsStrictlyBelow(root.real, folderPath) && NextComponent(folderPath, root.real) == name &&
                       (event.mask & (FAN_DELETE | FAN_MOVED_FROM | FAN_MOVED_TO))) {
                Break(*journal, "content root moved or deleted");
                break;
            }
        }
    }
    if (entryMoved)
        m_resolver->ForgetBelow(entryPath);
    else if (self && (event.mask & FAN_MOVE_SELF))
        m_resolver->ForgetBelow(folderPath);
}

void CJournalDaemon::HandleFileWithoutFolder(const fanotify_event_info_fid& fid)
{
    // The kernel reports a file without its folder when a name of it was made, removed or moved
    // (link, unlink, rename): the change time of every other name moved with it, and those names
    // may lie in folders no event named, inside the content or outside it. The one name left,
    // inside the content, has its folder journaled; with several names left, one path of the
    // file goes to every journal of its file system, and the scan finds the file by it and walks
    // unless it knows where all the file's names are. Each later change of the file's names is
    // told the same way, by a name it has then: a path told here that is gone by the time of
    // the scan was taken away by a change told after it.
    uint64_t fsid = 0;
    std::memcpy(&fsid, &fid.fsid, sizeof fsid);
    const auto& handle = *reinterpret_cast<const file_handle*>(fid.handle);
    const int fd = m_resolver->Open(fsid, handle);
    const int openError = errno;
    std::string path;
    std::string cause;
    nlink_t links = 0;
    if (fd < 0) {
        if (openError == ESTALE || openError == ENOENT)
            return;  // every name is gone, each removal journaled in its folder
        cause = std::string("link count changed on a file that cannot be placed: ") + std::strerror(openError);
    } else {
        struct stat status {};
        char target[PATH_MAX];
        const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
        const bool known = ::fstat(fd, &status) == 0;
        ::close(fd);
        if (known && status.st_nlink == 0)
            return;  // no name left: kept only by an open descriptor
        links = status.st_nlink;
        path.assign(target, length > 0 ? static_cast<size_t>(length) : 0);
        if (!known || length <= 0 || static_cast<size_t>(length) == sizeof target || path.front() != '/' ||
            path.ends_with(" (deleted)"))
            cause = "link count changed on a file that cannot be placed";
    }
    for (auto& journal : m_journals) {
        if (journal->broken || std::find(journal->fsids.begin(), journal->fsids.end(), fsid) == journal->fsids.end())
            continue;
        if (!cause.empty()) {
            Break(*journal, cause);
            continue;
        }
        const auto root = std::find_if(journal->target.roots.begin(), journal->target.roots.end(),
                                       [&path](const SJournalRoot& r) { return IsStrictlyBelow(path, r.real); });
        const bool inside = root != journal->target.roots.end();
        if (inside)
            AddFolder(*journal, FXPath::Parent(path), *root);
        if (links > 1)
            journal->writer.AddLink(inside ? ContentPath(path, *root) : path);
    }
}

void CJournalDaemon::AddFolder(SJournal& journal, std::string_view realPath, const SJournalRoot& root)
{
    std::string path = ContentPath(realPath, root);
    if (journal.written.size() >= kMaxWritten)
        journal.written.clear();  // a repeated line costs less than unbounded memory
    if (journal.written.insert("d" + path).second)
        journal.writer.AddFolder(path);
    if (journal.writer.Size() >= kMaxJournalSize)
        Break(journal, "the journal reached its size limit");
}

void CJournalDaemon::Break(SJournal& journal, const std::string& cause)
{
    if (journal.broken)
        return;
    journal.broken = true;
    journal.cause = cause;
    journal.writer.AddBroken(cause);
}

void CJournalDaemon::BreakAll(const std::string& cause)
{
    for (auto& journal : m_journals)
        Break(*journal, cause);
}

void CJournalDaemon::CheckSharedMappings(SJournal& journal)
{
    // A file mapped shared and writable changes through stores into memory, which no event
    // reports: its folder is journaled at every sync while the mapping lasts.
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return;
    std::string line;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || std::atoi(entry->d_name) == ::getpid())
            continue;
        std::ifstream maps(std::string("/proc/") + entry->d_name + "/maps");
        while (std::getline(maps, line)) {
            // address perms offset dev inode path
            const size_t perms = line.find(' ') + 1;
            if (perms == 0 || line.size() < perms + 4 || line[perms + 1] != 'w' || line[perms + 3] != 's')
                continue;
            const size_t slash = line.find('/', perms);
            if (slash == std::string::npos || line.ends_with(" (deleted)"))
                continue;
            const std::string_view file = std::string_view(line).substr(slash);
            for (const SJournalRoot& root : journal.target.roots)
                if (IsStrictlyBelow(file, root.real)) {
                    AddFolder(journal, FXPath::Parent(file), root);
                    break;
                }
        }
    }
    ::closedir(proc);
}

void CJournalDaemon::GiveUpOnError(SJournal& journal, const char* what, const CKxError& error)
{
    // A journal its file cannot keep is broken in memory: the next sync answers so, and rotates.
    if (error.IsError() && !journal.broken) {
        journal.broken = true;
        journal.cause = std::string("the journal could not be ") + what + ": " + error.OneLine();
        Say(journal.cause);
    }
}

CKxError CJournalDaemon::FlushAll()
{
    for (auto& journal : m_journals) {
        if (!journal->writer.HasPending())
            continue;
        GiveUpOnError(*journal, "written", journal->writer.Flush());
        m_unsynced = true;
    }
    return CKxError::Success();
}

CKxError CJournalDaemon::SyncAll()
{
    for (auto& journal : m_journals) {
        GiveUpOnError(*journal, "synced", journal->writer.Sync());
    }
    m_unsynced = false;
    m_lastSyncMs = NowMs();
    return CKxError::Success();
}

void CJournalDaemon::Serve(SClient& client)
{
    char buffer[4096];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n > 0)
        client.request.append(buffer, static_cast<size_t>(n));
    const size_t newline = client.request.find('\n');
    if (newline != std::string::npos) {
        const std::string answer = Answer(client.request.substr(0, newline)) + "\n";
        [[maybe_unused]] ssize_t sent = ::send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    if (n <= 0 || newline != std::string::npos || client.request.size() > kMaxRequest) {
        ::close(client.fd);
        client.fd = -1;
    }
}

std::string CJournalDaemon::Answer(const std::string& request)
{
    std::string folder;
    if (!request.starts_with("sync ") || unescapeFileName(std::string_view(request).substr(5), folder).IsError())
        return "unknown";
    folder = FXPath::TrimTrailingSlashes(folder);
    char real[PATH_MAX];
    const std::string realFolder = ::realpath(folder.c_str(), real) ? real : folder;
    SJournal* journal = nullptr;
    for (auto& candidate : m_journals) {
        const std::string& own = candidate->target.resultsFolder;
        char ownReal[PATH_MAX];
        if (own == folder || (::realpath(own.c_str(), ownReal) && realFolder == ownReal)) {
            journal = candidate.get();
            break;
        }
    }
    if (!journal)
        return "unknown";
    // Every change made before the request is in the queue by now: drain it to the end.
    if (DrainEvents().IsError())
        BreakAll("the event queue could not be read");
    if (!journal->broken)
        CheckSharedMappings(*journal);
    [[maybe_unused]] CKxError flushed = FlushAll();
    if (journal->broken) {
        const std::string cause = journal->cause;
        CKxError e = journal->writer.Rotate(CompleteSince());
        if (e.IsError()) {
            Say("cannot start a new change journal in [" + journal->target.resultsFolder + "]: " + e.OneLine());
            return "unknown";
        }
        journal->broken = false;
        journal->cause.clear();
        journal->written.clear();
        return KxFormat("broken %s %llu %llu %s", m_runId.c_str(), static_cast<unsigned long long>(journal->writer.Sequence()),
                        static_cast<unsigned long long>(journal->writer.Size()), cause.c_str());
    }
    CKxError e = journal->writer.Sync();
    if (e.IsError()) {
        Break(*journal, "the journal could not be synced: " + e.OneLine());
        return Answer(request);
    }
    journal->written.clear();
    return KxFormat("ok %s %llu %llu", m_runId.c_str(), static_cast<unsigned long long>(journal->writer.Sequence()),
                    static_cast<unsigned long long>(journal->writer.Size()));
}

CKxError CJournalDaemon::Stop()
{
    CKxError drained = DrainEvents();
    for (auto& journal : m_journals)
        journal->writer.AddEnd();
    KX_RETURN_IF_ERROR(FlushAll());
    KX_RETURN_IF_ERROR(SyncAll());
    Say("stopped after " + std::to_string(m_events) + " events");
    return drained;
}
