#include "CollectFile/PathCacheFlatFileIndex.h"
#include "Base/FileSystemIdentity.h"

#include "Base/BackgroundRemover.h"
#include "Base/HotPath.h"
#include "Base/LogWriter.h"
#include "Base/WriteBackStarter.h"
#include "Base/Prefault.h"
#include "CollectFile/DirChangeClosedFile.h"
#include "CollectFile/DirChangeComparison.h"
#include "CollectFile/DirChangeFileLayout.h"
#include "CollectFile/DirChangeFolderEntries.h"
#include "Base/DirChangePathOrder.h"
#include "CollectFile/DirChangeStaging.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>

using DirChangeFileLayout::SChunkRef;

namespace {
// Process-unique ids of loaded files: a thread's cached folder of a file that is gone can never
// be taken for a folder of a later file.
std::atomic<std::uint64_t> g_nextFileGeneration{1};

constexpr size_t kCachedFolders = 4;          // folders a thread keeps loaded per lookup kind
constexpr size_t kCarryBatchBytes = size_t{1} << 20;
// Per thread: a walker's folders lie in a few hand-overs; small windows, so that a thread that
// jumps about reads little more than it needs.
constexpr size_t kLookupWindows = 2;
constexpr size_t kLookupWindowBytes = size_t{32} << 10;

struct SCachedFolder {
    std::uint64_t generation = 0;
    std::string folder;
    size_t stamp = 0;  // the folder's chunk count when loaded (the current file grows)
    std::shared_ptr<const CDirChangeFolderEntries> entries;
};

struct SFolderCache {
    SCachedFolder slots[kCachedFolders];
    size_t next = 0;
    // The thread's reader of the file of `readerGeneration` (a walker asks for folders near each
    // other: they come from few reads).
    std::uint64_t readerGeneration = 0;
    std::unique_ptr<CDirChangeChunkReader> reader;

    const SCachedFolder* Find(std::uint64_t generation, std::string_view folder, size_t stamp) const
    {
        for (const SCachedFolder& slot : slots)
            if (slot.generation == generation && slot.stamp == stamp && slot.folder == folder)
                return &slot;
        return nullptr;
    }
    const SCachedFolder& Put(std::uint64_t generation, std::string_view folder, size_t stamp,
                             std::shared_ptr<const CDirChangeFolderEntries> entries)
    {
        SCachedFolder& slot = slots[next];
        next = (next + 1) % kCachedFolders;
        slot.generation = generation;
        slot.folder.assign(folder);
        slot.stamp = stamp;
        slot.entries = std::move(entries);
        return slot;
    }
};

ssize_t DefaultWrite(int fd, const void* data, size_t size, off_t offset)
{
    return ::pwrite(fd, data, size, offset);
}

std::uint64_t CountLines(std::string_view bytes)
{
    return static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}
}  // namespace

struct CPathCacheFlatFileIndex::SImpl {
    explicit SImpl(CPathCacheFlatFileIndex& owner) : staging(owner) {}

    CDirChangeItemBaseFormatterPtr formatter = std::make_shared<CDirChangeItemBaseFormatter>();
    CDirChangeItemBaseParserPtr currentParser = std::make_shared<CDirChangeItemBaseParser>();
    CDirChangeItemBaseParserPtr previousParser = std::make_shared<CDirChangeItemBaseParser>();
    std::atomic<bool> avoidEmpty{false};
    WriteFunction write = DefaultWrite;

    // Read by every add of every walker: a cache line of their own, which the writes of the
    // current file's bookkeeping below (at every hand-over) do not take from the walkers.
    struct alignas(64) SAddFlags {
        std::atomic<bool> includeFiles{true};
        // Adds are refused: set when closing begins, before the file is complete (`closed`).
        std::atomic<bool> sealed{false};
    } addFlags;

    // The current file. Everything below up to the previous file is guarded by currentLock.
    std::string currentPath;
    ContentMapperAPIPtr currentMapper;
    mutable std::mutex currentLock;
    int currentFd = -1;
    std::uint64_t currentGeneration = 0;
    std::uint64_t currentEnd = 0;
    std::uint64_t currentIndexHash = 0;  // once closed
    // Chunks are never rewritten: the disk takes them while the walk goes on, started from a
    // thread of the starter's, so that the walk's threads only tell it how far the file is.
    std::unique_ptr<CWriteBackStarter> writeBack;
    std::deque<SChunkRef> currentChunks;  // in file order; a deque keeps references stable
    // The folder names of the chunks written or carried; kept chunks view the names of the file
    // they were kept from, which are held here as long as the chunks.
    CChunkNameArena currentNames;
    std::vector<std::shared_ptr<const CChunkNameArena>> borrowedNames;
    // Chunks by folder for LookupCurrent, built on demand: the first currentIndexed chunks are in.
    std::unordered_map<std::string_view, std::vector<const SChunkRef*>> currentByFolder;
    size_t currentIndexed = 0;
    std::uint64_t currentEntries = 0;
    // Written under currentLock; atomic so that adders may check it without the lock.
    std::atomic<bool> closed{false};
    // The thread BeginClose started and what its closing gave (owner only).
    std::thread closer;
    CKxError closeResult;
    CKxError writeError;  // the first failed write, returned from then on

    // The previous file: set by the owner before lookups start, then read-only.
    std::string previousPath;
    ContentMapperAPIPtr previousMapper;
    CDirChangeClosedFile previous;
    std::uint64_t previousGeneration = 0;
    std::atomic<bool> damageLogged{false};

    CDirChangeStaging staging;  // AddItem's entries

    // Ranges of previous.Chunks() noted to be kept, copied by CopyKept.
    std::mutex keptLock;
    std::vector<std::pair<size_t, size_t>> keptRanges;
    size_t currentKeptChunks = 0;  // chunks copied from the previous file (lock: currentLock)
    bool copyInKernel = true;      // copy_file_range works between the two files (currentLock)

    void ResetCurrent()
    {
        writeBack.reset();  // its thread uses the descriptor
        if (currentFd >= 0)
            ::close(currentFd);
        currentFd = -1;
        currentEnd = 0;
        currentChunks.clear();
        currentByFolder.clear();
        currentNames.Clear();
        borrowedNames.clear();
        currentIndexed = 0;
        currentEntries = 0;
        currentKeptChunks = 0;
        closed.store(false, std::memory_order_release);
        addFlags.sealed.store(false, std::memory_order_release);
        writeError = CKxError();
    }

    // Whether the current file takes appends (lock held). A failed write is sticky; a closed
    // file or none: error 6.
    CKxError WritableLocked() const
    {
        if (writeError.IsError())
            return writeError;
        if (currentFd < 0)
            return CKxError(6, "No directory-change file is open for writing");
        if (closed)
            return CKxError(6, KxFormat("The directory-change file '%s' is closed", currentPath.c_str()));
        return CKxError::Success();
    }

    // Appends `bytes` to the current file, which starts them at `base` (lock held).
    CKxError AppendLocked(std::string_view bytes, std::uint64_t& base)
    {
        KX_RETURN_IF_ERROR(WritableLocked());
        if (bytes.empty())
            return CKxError::Success();
        if (CKxError wrote = WriteAllLocked(bytes, currentEnd); wrote.IsError()) {
            writeError = wrote;
            return wrote;
        }
        base = currentEnd;
        currentEnd += bytes.size();
        writeBack->Advance(currentEnd);
        return CKxError::Success();
    }

    // Appends `length` bytes of file `fd` from `from` to the current file, which starts them
    // at `base` (lock held). Copied by the kernel where the file system allows it: kept records
    // need not pass through the process. A test's write function sees every byte.
    CKxError CopyInLocked(int fd, const std::string& path, std::uint64_t from, std::uint64_t length,
                          std::uint64_t& base)
    {
        KX_RETURN_IF_ERROR(WritableLocked());
        std::uint64_t done = 0;
        while (copyInKernel && write == DefaultWrite && done < length) {
            loff_t in = static_cast<loff_t>(from + done);
            loff_t out = static_cast<loff_t>(currentEnd + done);
            const ssize_t copied = ::copy_file_range(fd, &in, currentFd, &out, length - done, 0);
            if (copied > 0) {
                done += static_cast<std::uint64_t>(copied);
                continue;
            }
            if (copied < 0 && errno == EINTR)
                continue;
            if (copied < 0 && done == 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                copyInKernel = false;  // not between these files: through the process from now on
                break;
            }
            writeError = copied == 0 ? CKxError(KxCode::InvalidData,
                                                KxFormat("Directory-change file '%s' is truncated or corrupt: it "
                                                         "ends before offset %llu",
                                                         path.c_str(), static_cast<unsigned long long>(from + done)))
                                     : CKxError::FromErrno(errno, KxFormat("Failed to copy from '%s' to '%s'",
                                                                            path.c_str(), currentPath.c_str()));
            return writeError;
        }
        constexpr std::uint64_t kPiece = std::uint64_t{1} << 20;
        std::string piece;
        while (done < length) {
            piece.clear();
            const std::uint64_t size = std::min(kPiece, length - done);
            KX_RETURN_IF_ERROR(CDirChangeFolderEntries::ReadAt(fd, path, from + done, size, piece));
            if (CKxError wrote = WriteAllLocked(piece, currentEnd + done); wrote.IsError()) {
                writeError = wrote;
                return wrote;
            }
            done += piece.size();
        }
        base = currentEnd;
        currentEnd += length;
        writeBack->Advance(currentEnd);
        return CKxError::Success();
    }

    // Writes all of `bytes` at `offset` (lock held).
    CKxError WriteAllLocked(std::string_view bytes, std::uint64_t offset)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = write(currentFd, bytes.data() + done, bytes.size() - done,
                                        static_cast<off_t>(offset + done));
            if (wrote < 0) {
                if (errno == EINTR)
                    continue;
                return CKxError::FromErrno(errno, KxFormat("Failed to write to '%s'", currentPath.c_str()));
            }
            if (wrote == 0)
                return CKxError::FromErrno(EIO, KxFormat("Failed to write to '%s'", currentPath.c_str()));
            done += static_cast<size_t>(wrote);
        }
        return CKxError::Success();
    }

    void LogDamageOnce(const CKxError& error)
    {
        if (!damageLogged.exchange(true))
            FSLOG_ERROR("Directory-change lookups answer \"not found\" for an unreadable folder: %s",
                        error.AsString().c_str());
    }

    // Loads (or finds in the calling thread's cache) the merged entries of `folder` of a file.
    // `stamp` tells a folder's cached entries from those of the same folder after it grew.
    std::shared_ptr<const CDirChangeFolderEntries> LoadFolder(SFolderCache& cache, std::uint64_t generation,
                                                              size_t stamp, int fd, const std::string& path,
                                                              std::uint64_t dataEnd, std::string_view folder,
                                                              const std::vector<const SChunkRef*>& chunks)
    {
        if (const SCachedFolder* hit = cache.Find(generation, folder, stamp))
            return hit->entries;
        auto entries = std::make_shared<CDirChangeFolderEntries>();
        if (!chunks.empty()) {
            if (cache.readerGeneration != generation || !cache.reader) {
                cache.reader = std::make_unique<CDirChangeChunkReader>(fd, path, dataEnd, kLookupWindows, kLookupWindowBytes);
                cache.readerGeneration = generation;
            }
            CKxError loaded = entries->Load(*cache.reader, chunks.data(), chunks.size());
            if (loaded.IsError()) {
                LogDamageOnce(loaded);
                return nullptr;
            }
        }
        return cache.Put(generation, folder, stamp, std::move(entries)).entries;
    }

    bool Answer(const CDirChangeFolderEntries* entries, std::string_view name, EKind kind,
                const CDirChangeItemBaseParserPtr& parser, FVBasePtr* record)
    {
        if (!entries)
            return false;
        const auto* entry = entries->Find(name, kind == eFile ? DirChangeFileLayout::kFileKind
                                                              : DirChangeFileLayout::kFolderKind);
        if (!entry || entry->carried)
            return false;
        if (record) {
            CKxError made = CDirChangeComparison::MakeRecord(*parser, entry->text,
                                                             avoidEmpty.load(std::memory_order_relaxed), *record);
            if (made.IsError()) {
                LogDamageOnce(made);
                record->reset();
                return false;
            }
        }
        return true;
    }
};

CPathCacheFlatFileIndex::CPathCacheFlatFileIndex()
    : m_impl(std::make_unique<SImpl>(*this)),
      m_closed(&m_impl->addFlags.sealed),
      m_includeFiles(&m_impl->addFlags.includeFiles)
{
}

CPathCacheFlatFileIndex::~CPathCacheFlatFileIndex()
{
    WaitForClosing();
    std::lock_guard lock(m_impl->currentLock);
    m_impl->ResetCurrent();
}

CKxError CPathCacheFlatFileIndex::SetCurrentBackingFile(const std::string& path, ContentMapperAPIPtr mapper)
{
    WaitForClosing();
    std::lock_guard lock(m_impl->currentLock);
    m_impl->ResetCurrent();
    m_impl->currentPath = path;
    m_impl->currentMapper = std::move(mapper);
    CFileSystemIdentity::COwnCredentials own;  // the record is the process's, never the walk user's
    // A file left by an earlier job is removed rather than truncated: a file truncated and
    // written again is flushed to disk when it is closed (the file system's guard against
    // losing its content in a crash), which a file we rewrite whole does not need. Its storage
    // is freed while the job goes on.
    if (CKxError removed = CBackgroundRemover::Instance().Remove(path); removed.IsError())
        FSLOG(3, "Could not remove '%s' before writing it anew: %s", path.c_str(), removed.AsString().c_str());
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open '%s' for writing", path.c_str()));
    m_impl->currentFd = fd;
    m_impl->writeBack = std::make_unique<CWriteBackStarter>(fd);
    m_impl->currentGeneration = g_nextFileGeneration.fetch_add(1, std::memory_order_relaxed);
    CKxError header = m_impl->WriteAllLocked(DirChangeFileLayout::kHeader, 0);
    if (header.IsError()) {
        m_impl->ResetCurrent();
        return header;
    }
    m_impl->currentEnd = DirChangeFileLayout::kHeader.size();
    return CKxError::Success();
}

CKxError CPathCacheFlatFileIndex::SetPreviousBackingFile(const std::string& path, ContentMapperAPIPtr mapper)
{
    m_impl->previousPath = path;
    m_impl->previousMapper = std::move(mapper);
    m_impl->previousGeneration = g_nextFileGeneration.fetch_add(1, std::memory_order_relaxed);
    m_impl->damageLogged.store(false);
    const auto started = std::chrono::steady_clock::now();
    KX_RETURN_IF_FAILED(m_impl->previous.Open(path), "Failed to load the previous directory-change file '%s'",
                        path.c_str());
    if (CKxError verified = m_impl->previous.VerifyChunks(); verified.IsError()) {
        m_impl->previous.Close();
        return std::move(verified.Push(KxFormat("Failed to load the previous directory-change file '%s'", path.c_str())));
    }
    FSLOG(0, "Previous directory-change file '%s' loaded and checked whole in %.1f ms", path.c_str(),
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    return CKxError::Success();
}

void CPathCacheFlatFileIndex::SetItemInfoFormatter(CDirChangeItemBaseFormatterPtr formatter)
{
    m_impl->formatter = formatter ? std::move(formatter) : std::make_shared<CDirChangeItemBaseFormatter>();
}

void CPathCacheFlatFileIndex::SetCurrentBackingFileParser(CDirChangeItemBaseParserPtr parser)
{
    m_impl->currentParser = parser ? std::move(parser) : std::make_shared<CDirChangeItemBaseParser>();
}

void CPathCacheFlatFileIndex::SetPreviousBackingFileParser(CDirChangeItemBaseParserPtr parser)
{
    m_impl->previousParser = parser ? std::move(parser) : std::make_shared<CDirChangeItemBaseParser>();
}

void CPathCacheFlatFileIndex::SetAvoidLoadingEmptyItemInfo(bool avoid) { m_impl->avoidEmpty.store(avoid); }
void CPathCacheFlatFileIndex::SetIncludeFiles(bool include) { m_impl->addFlags.includeFiles.store(include); }
bool CPathCacheFlatFileIndex::HasPreviousBackingFile() const { return m_impl->previous.IsOpen(); }
const std::string& CPathCacheFlatFileIndex::GetCurrentBackingFilePath() const { return m_impl->currentPath; }
const std::string& CPathCacheFlatFileIndex::GetPreviousBackingFilePath() const { return m_impl->previousPath; }

namespace {
std::string HexIdentity(std::uint64_t hash)
{
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
    return text;
}
}  // namespace

std::string CPathCacheFlatFileIndex::GetPreviousIdentity() const
{
    return m_impl->previous.IsOpen() ? HexIdentity(m_impl->previous.IndexHash()) : std::string();
}

std::string CPathCacheFlatFileIndex::GetCurrentIdentity() const
{
    return m_impl->closed.load(std::memory_order_acquire) ? HexIdentity(m_impl->currentIndexHash) : std::string();
}
const CDirChangeItemBaseFormatterPtr& CPathCacheFlatFileIndex::GetItemInfoFormatter() const
{
    return m_impl->formatter;
}
void CPathCacheFlatFileIndex::SetWriteFunction(WriteFunction write) { m_impl->write = write ? write : DefaultWrite; }

bool CPathCacheFlatFileIndex::Lookup(std::string_view path, EKind kind, FVBasePtr* record)
{
    SImpl& impl = *m_impl;
    if (!impl.previous.IsOpen())
        return false;
    path = DirChangePathOrder::TrimTrailingSlashes(path);
    if (path.empty())
        return false;
    std::string_view folder, name;
    DirChangePathOrder::Split(path, folder, name);
    thread_local SFolderCache cache;
    // A folder's chunks in the previous file never change: stamp 0 keys every cached folder.
    if (const SCachedFolder* hit = cache.Find(impl.previousGeneration, folder, 0))
        return impl.Answer(hit->entries.get(), name, kind, impl.previousParser, record);
    const auto [begin, end] = impl.previous.FolderRange(folder, false);
    std::vector<const SChunkRef*> chunks;
    for (size_t i = begin; i < end; ++i)
        chunks.push_back(&impl.previous.Chunks()[i]);
    auto entries = impl.LoadFolder(cache, impl.previousGeneration, 0, impl.previous.Fd(), impl.previousPath,
                                   impl.previous.DataEnd(), folder, chunks);
    return impl.Answer(entries.get(), name, kind, impl.previousParser, record);
}

bool CPathCacheFlatFileIndex::LookupCurrent(std::string_view path, EKind kind, FVBasePtr* record)
{
    SImpl& impl = *m_impl;
    path = DirChangePathOrder::TrimTrailingSlashes(path);
    if (path.empty())
        return false;
    std::string_view folder, name;
    DirChangePathOrder::Split(path, folder, name);
    std::vector<const SChunkRef*> chunks;
    std::uint64_t generation;
    int fd;
    {
        std::lock_guard lock(impl.currentLock);
        if (impl.currentFd < 0)
            return false;
        generation = impl.currentGeneration;
        fd = impl.currentFd;
        // Restart checks are rare next to writes: the folder map catches up here, not per append.
        for (; impl.currentIndexed < impl.currentChunks.size(); ++impl.currentIndexed) {
            const SChunkRef& chunk = impl.currentChunks[impl.currentIndexed];
            impl.currentByFolder[chunk.folder].push_back(&chunk);
        }
        auto it = impl.currentByFolder.find(folder);
        if (it == impl.currentByFolder.end())
            return false;
        chunks = it->second;
    }
    thread_local SFolderCache cache;
    // The descriptor stays open while chunks are read: only the owner may reset the file, and
    // not while lookups run.
    // No windows here: the file grows, and restart checks are rare.
    auto entries = impl.LoadFolder(cache, generation, chunks.size(), fd, impl.currentPath, 0, folder, chunks);
    return impl.Answer(entries.get(), name, kind, impl.currentParser, record);
}

CKxError CPathCacheFlatFileIndex::AddItem(const std::string& path, const FVBasePtr& record, bool isFile)
{
    KX_RETURN_IF_FAILED(m_impl->staging.Add(path, isFile, record), "Failed to add '%s' to the directory-change file '%s'",
                        escapeFileName(path).c_str(), m_impl->currentPath.c_str());
    return CKxError::Success();
}

CKxError CPathCacheFlatFileIndex::FlushPending()
{
    KX_RETURN_IF_FAILED(CopyKept(), "Failed to flush the directory-change file '%s'", m_impl->currentPath.c_str());
    KX_RETURN_IF_FAILED(m_impl->staging.Flush(), "Failed to flush the directory-change file '%s'",
                        m_impl->currentPath.c_str());
    return CKxError::Success();
}

KX_HOT_PATH CKxError CPathCacheFlatFileIndex::AppendChunks(std::string_view bytes, std::vector<SChunkRef>& chunks,
                                                           std::uint64_t entries)
{
    SImpl& impl = *m_impl;
    std::lock_guard lock(impl.currentLock);
    std::uint64_t base = 0;
    KX_RETURN_IF_ERROR(impl.AppendLocked(chunks.empty() ? std::string_view() : bytes, base));
    impl.currentEntries += entries;
    for (SChunkRef& chunk : chunks) {
        chunk.offset += base;
        chunk.folder = impl.currentNames.Add(chunk.folder);
        impl.currentChunks.push_back(chunk);
    }
    return CKxError::Success();
}


void CPathCacheFlatFileIndex::KeepUnchanged(std::string_view folderPath) { KeepAllBut(folderPath, {}); }

void CPathCacheFlatFileIndex::KeepAllBut(std::string_view folderPath, const std::vector<std::string>& except)
{
    SImpl& impl = *m_impl;
    if (!impl.previous.IsOpen())
        return;
    const std::string_view folder = DirChangePathOrder::TrimTrailingSlashes(folderPath);
    auto [begin, end] = impl.previous.FolderRange(folder, true);
    // Each sub-folder's subtree is one run of the path order inside the folder's: the runs
    // between them are kept.
    std::vector<std::pair<size_t, size_t>> holes;
    std::string child;
    for (const std::string& name : except) {
        child.clear();
        DirChangePathOrder::AppendJoined(folder, name, child);
        holes.push_back(impl.previous.FolderRange(child, true));
    }
    std::sort(holes.begin(), holes.end());
    std::lock_guard lock(impl.keptLock);
    for (const auto& [holeBegin, holeEnd] : holes) {
        if (holeBegin > begin)
            impl.keptRanges.emplace_back(begin, holeBegin);
        begin = std::max(begin, holeEnd);
    }
    if (begin < end)
        impl.keptRanges.emplace_back(begin, end);
}

bool CPathCacheFlatFileIndex::CanKeepEntriesOf(std::string_view folderPath) const
{
    const SImpl& impl = *m_impl;
    if (!impl.previous.IsOpen())
        return false;
    const auto [begin, end] = impl.previous.FolderRange(DirChangePathOrder::TrimTrailingSlashes(folderPath), false);
    for (size_t i = begin; i < end; ++i)
        if (impl.previous.Chunks()[i].flags & DirChangeFileLayout::kChunkCarried)
            return false;
    return begin != end;
}

CKxError CPathCacheFlatFileIndex::CopyKept()
{
    SImpl& impl = *m_impl;
    std::vector<std::pair<size_t, size_t>> ranges;
    {
        std::lock_guard lock(impl.keptLock);
        ranges.swap(impl.keptRanges);
    }
    if (ranges.empty())
        return CKxError::Success();
    // In the previous file's (path) order, which the copies keep: the sorts of the current
    // file's chunks then find them as one run.
    std::sort(ranges.begin(), ranges.end());
    const std::vector<SChunkRef>& source = impl.previous.Chunks();
    std::vector<size_t> kept;
    for (size_t at = 0; const auto& [begin, end] : ranges) {
        for (size_t i = std::max(begin, at); i < end; ++i)
            kept.push_back(i);
        at = std::max(at, end);
    }
    // Copied in the previous file's byte order, chunks that lie back to back in one copy (a file
    // written by a walk holds a subtree's chunks together), except that chunks the previous job
    // kept go first: all copies are kept, so the later wins, and a folder's entry that job wrote
    // must stay later than the older one it won over.
    std::vector<size_t> byOffset(kept.size());  // positions in `kept`
    for (size_t k = 0; k < kept.size(); ++k)
        byOffset[k] = k;
    auto chunk = [&](size_t k) -> const SChunkRef& { return source[kept[k]]; };
    std::sort(byOffset.begin(), byOffset.end(), [&](size_t a, size_t b) {
        const bool aKept = chunk(a).flags & DirChangeFileLayout::kChunkKept;
        const bool bKept = chunk(b).flags & DirChangeFileLayout::kChunkKept;
        return aKept != bKept ? aKept : chunk(a).offset < chunk(b).offset;
    });
    std::vector<std::uint64_t> offsets(kept.size());  // where each lands in the current file
    for (size_t i = 0; i < byOffset.size();) {
        const std::uint64_t runBegin = chunk(byOffset[i]).offset;
        std::uint64_t runEnd = runBegin + chunk(byOffset[i]).length;
        size_t next = i + 1;
        for (; next < byOffset.size() && chunk(byOffset[next]).offset == runEnd; ++next)
            runEnd += chunk(byOffset[next]).length;
        std::uint64_t base = 0;
        {
            std::lock_guard lock(impl.currentLock);
            KX_RETURN_IF_FAILED(
                impl.CopyInLocked(impl.previous.Fd(), impl.previousPath, runBegin, runEnd - runBegin, base),
                "Failed to keep the records of unchanged folders");
        }
        for (; i < next; ++i)
            offsets[byOffset[i]] = base + (chunk(byOffset[i]).offset - runBegin);
    }
    std::lock_guard lock(impl.currentLock);
    impl.currentKeptChunks += kept.size();
    // The copies' names stay where the previous file's are: no copy of tens of thousands of
    // names into memory the job has not touched yet.
    const auto& names = impl.previous.Names();
    if (std::find(impl.borrowedNames.begin(), impl.borrowedNames.end(), names) == impl.borrowedNames.end())
        impl.borrowedNames.push_back(names);
    for (size_t k = 0; k < kept.size(); ++k) {
        SChunkRef& copy = impl.currentChunks.emplace_back(chunk(k));
        copy.offset = offsets[k];
        copy.flags |= DirChangeFileLayout::kChunkKept;
    }
    return CKxError::Success();
}

CKxError CPathCacheFlatFileIndex::CarryForward(const std::string& folderPath)
{
    SImpl& impl = *m_impl;
    if (!impl.previous.IsOpen())
        return CKxError::Success();
    const std::string_view folder = DirChangePathOrder::TrimTrailingSlashes(folderPath);
    const auto [begin, end] = impl.previous.FolderRange(folder, true);
    std::string batch;
    std::vector<SChunkRef> chunks;
    std::uint64_t entries = 0;
    auto handOver = [&]() -> CKxError {
        CKxError appended = AppendChunks(batch, chunks, entries);
        batch.clear();
        chunks.clear();
        entries = 0;
        return appended;
    };
    for (size_t i = begin; i < end; ++i) {
        const SChunkRef& source = impl.previous.Chunks()[i];
        const size_t at = batch.size();
        KX_RETURN_IF_FAILED(CDirChangeFolderEntries::ReadAt(impl.previous.Fd(), impl.previousPath, source.offset,
                                                            source.length, batch),
                            "Failed to carry folder '%s' forward", escapeFileName(folder).c_str());
        const std::string_view bytes = std::string_view(batch).substr(at);
        if (DirChangeFileLayout::Hash64(bytes) != source.hash)
            return CKxError(KxCode::InvalidData,
                            KxFormat("Directory-change file '%s' is truncated or corrupt: chunk of folder '%s' at "
                                     "offset %llu: checksum mismatch",
                                     impl.previousPath.c_str(), escapeFileName(source.folder).c_str(),
                                     static_cast<unsigned long long>(source.offset)))
                .Push(KxFormat("Failed to carry folder '%s' forward", escapeFileName(folder).c_str()));
        SChunkRef copy = source;
        copy.offset = at;
        copy.flags |= DirChangeFileLayout::kChunkCarried;
        chunks.push_back(std::move(copy));
        entries += CountLines(bytes);
        if (batch.size() >= kCarryBatchBytes)
            KX_RETURN_IF_FAILED(handOver(), "Failed to carry folder '%s' forward", escapeFileName(folder).c_str());
    }
    if (!chunks.empty())
        KX_RETURN_IF_FAILED(handOver(), "Failed to carry folder '%s' forward", escapeFileName(folder).c_str());
    return CKxError::Success();
}

CKxError CPathCacheFlatFileIndex::CurrentSide(CDirChangeComparison::SSide& side)
{
    SImpl& impl = *m_impl;
    KX_RETURN_IF_FAILED(FlushPending(), "Compare failed");
    {
        std::lock_guard lock(impl.currentLock);
        if (impl.currentFd < 0)
            return CKxError(KxCode::InvalidParameter, "Compare failed: no current directory-change file");
        if (impl.writeError.IsError())
            return CKxError(impl.writeError).Push("Compare failed");
        side.fd = impl.currentFd;
        side.path = impl.currentPath;
        side.dataEnd = impl.currentEnd;
        side.chunks.reserve(impl.currentChunks.size());
        for (const SChunkRef& chunk : impl.currentChunks)
            side.chunks.push_back(&chunk);
    }
    DirChangeFileLayout::SortChunkRefs(side.chunks);
    side.parser = impl.currentParser;
    return CKxError::Success();
}

namespace {
CDirChangeComparison::SSide ClosedSide(const CDirChangeClosedFile& file, CDirChangeItemBaseParserPtr parser)
{
    CDirChangeComparison::SSide side;
    if (file.IsOpen()) {
        side.fd = file.Fd();
        side.path = file.Path();
        side.dataEnd = file.DataEnd();
        side.chunks.reserve(file.Chunks().size());
        for (const SChunkRef& chunk : file.Chunks())
            side.chunks.push_back(&chunk);
    }
    side.parser = parser ? std::move(parser) : std::make_shared<CDirChangeItemBaseParser>();
    return side;
}
}  // namespace

CKxError CPathCacheFlatFileIndex::Compare(CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags)
{
    (void)flags;
    CDirChangeComparison::SSide current;
    KX_RETURN_IF_ERROR(CurrentSide(current));
    CDirChangeComparison comparison(ClosedSide(m_impl->previous, m_impl->previousParser), std::move(current),
                                    m_impl->avoidEmpty.load(), callback);
    KX_RETURN_IF_FAILED(comparison.Run(), "Compare failed");
    return CKxError::Success();
}

CKxError CPathCacheFlatFileIndex::CompareWith(const std::string& previousPath,
                                              CDirChangeItemBaseParserPtr previousParser,
                                              CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags)
{
    (void)flags;
    CDirChangeClosedFile previous;
    KX_RETURN_IF_FAILED(previous.Open(previousPath), "Compare failed");
    CDirChangeComparison::SSide current;
    KX_RETURN_IF_ERROR(CurrentSide(current));
    CDirChangeComparison comparison(ClosedSide(previous, std::move(previousParser)), std::move(current),
                                    m_impl->avoidEmpty.load(), callback);
    KX_RETURN_IF_FAILED(comparison.Run(), "Compare failed");
    return CKxError::Success();
}

CKxError CPathCacheFlatFileIndex::Compare(const std::string& first, const std::string& second,
                                          CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags,
                                          CDirChangeItemBaseParserPtr firstParser,
                                          CDirChangeItemBaseParserPtr secondParser)
{
    (void)flags;
    CDirChangeClosedFile firstFile;
    CDirChangeClosedFile secondFile;
    KX_RETURN_IF_FAILED(firstFile.Open(first), "Compare failed");
    KX_RETURN_IF_FAILED(secondFile.Open(second), "Compare failed");
    CDirChangeComparison comparison(ClosedSide(firstFile, std::move(firstParser)),
                                    ClosedSide(secondFile, std::move(secondParser)), false, callback);
    KX_RETURN_IF_FAILED(comparison.Run(), "Compare failed");
    return CKxError::Success();
}

void CPathCacheFlatFileIndex::BeginClose()
{
    SImpl& impl = *m_impl;
    if (impl.closer.joinable())
        return;
    impl.addFlags.sealed.store(true, std::memory_order_release);
    try {
        impl.closer = std::thread([this] { m_impl->closeResult = CloseNow(); });
    } catch (const std::system_error& error) {
        FSLOG(3, "Closing the directory-change file '%s' in the foreground: no thread (%s)", impl.currentPath.c_str(),
              error.what());
    }
}

bool CPathCacheFlatFileIndex::WaitForClosing()
{
    SImpl& impl = *m_impl;
    if (!impl.closer.joinable())
        return false;
    impl.closer.join();
    return true;
}

CKxError CPathCacheFlatFileIndex::Close()
{
    if (WaitForClosing())
        return std::move(m_impl->closeResult);
    return CloseNow();
}

CKxError CPathCacheFlatFileIndex::CloseNow()
{
    SImpl& impl = *m_impl;
    const auto started = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(impl.currentLock);
        if (impl.closed)
            return CKxError::Success();
    }
    impl.addFlags.sealed.store(true, std::memory_order_release);
    KX_RETURN_IF_FAILED(CopyKept(), "Failed to close the directory-change file '%s'", impl.currentPath.c_str());
    KX_RETURN_IF_FAILED(impl.staging.Flush(), "Failed to close the directory-change file '%s'",
                        impl.currentPath.c_str());
    std::lock_guard lock(impl.currentLock);
    if (impl.currentFd < 0)
        return CKxError(6, "No directory-change file is open for writing");
    if (impl.writeError.IsError())
        return CKxError(impl.writeError).Push(KxFormat("Failed to close the directory-change file '%s'",
                                                       impl.currentPath.c_str()));
    std::vector<const SChunkRef*> keys;
    Prefault::Reserve(keys, impl.currentChunks.size());
    for (const SChunkRef& chunk : impl.currentChunks)
        keys.push_back(&chunk);
    DirChangeFileLayout::SortChunkRefs(keys);
    // The index is written as it is made, in pieces of one reused buffer: a folder index is
    // about a hundred bytes per chunk, and building it whole would touch that many fresh pages.
    constexpr size_t kPieceBytes = size_t{64} << 10;
    std::string piece;
    Prefault::Reserve(piece, kPieceBytes + 4096);
    DirChangeFileLayout::CHash64Stream indexHash;
    std::uint64_t at = impl.currentEnd;
    auto write = [&]() -> CKxError {
        indexHash.Update(piece);
        CKxError wrote = impl.WriteAllLocked(piece, at);
        at += piece.size();
        piece.clear();
        return wrote;
    };
    CKxError wrote;
    for (size_t i = 0; i < keys.size() && wrote.IsSuccess(); ++i) {
        DirChangeFileLayout::AppendIndexLine(*keys[i], piece);
        if (piece.size() >= kPieceBytes)
            wrote = write();
    }
    if (wrote.IsSuccess())
        wrote = write();
    DirChangeFileLayout::STrailer trailer;
    trailer.indexOffset = impl.currentEnd;
    trailer.indexLength = at - impl.currentEnd;
    trailer.chunkCount = keys.size();
    trailer.indexHash = indexHash.Final();
    if (wrote.IsSuccess()) {
        DirChangeFileLayout::AppendTrailer(trailer, piece);
        wrote = impl.WriteAllLocked(piece, at);
        at += piece.size();
    }
    if (wrote.IsError()) {
        impl.writeError = wrote;
        return wrote.Push(KxFormat("Failed to close the directory-change file '%s'", impl.currentPath.c_str()));
    }
    impl.currentEnd = at;
    impl.currentIndexHash = trailer.indexHash;
    impl.writeBack->Advance(at);
    impl.writeBack->Finish();
    impl.closed.store(true, std::memory_order_release);
    FSLOG(0,
          "Directory-change file '%s' closed: %llu entries written, %zu folder chunks (%zu kept from the previous "
          "file), %llu bytes, in %lld ms",
          impl.currentPath.c_str(), static_cast<unsigned long long>(impl.currentEntries), keys.size(),
          impl.currentKeptChunks, static_cast<unsigned long long>(at),
          static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - started)
                                     .count()));
    return CKxError::Success();
}

std::uint64_t CPathCacheFlatFileIndex::GetCurrentEntryCount() const
{
    std::lock_guard lock(m_impl->currentLock);
    return m_impl->currentEntries;
}

std::uint64_t CPathCacheFlatFileIndex::GetCurrentChunkCount() const
{
    std::lock_guard lock(m_impl->currentLock);
    return m_impl->currentChunks.size();
}
