#include "CollectFile/FlatCollectFile.h"

#include "Base/HotPath.h"
#include "Base/Prefault.h"
#include "CollectFile/ExtentLine.h"
#include "Base/FileNameEscaping.h"
#include "Engine/FindFirstItem.h"

#include <algorithm>
#include <charconv>

namespace {
// Process-unique file ids: a destroyed file's id is never given again, so a thread's cached
// slot of it can never be taken for a slot of a later file at the same address.
std::atomic<std::uint64_t> g_nextFileId{1};

constexpr size_t kCachedSlots = 8;  // files a thread finds its slot of without a lock

// Appends the extent-qualified line of a file the extent consumer marked; false (nothing
// appended) for any other item. Only items with a bag get here.
bool AppendExtentQualifiedLine(CItem& item, std::string& line)
{
    const auto* found = dynamic_cast<const CFindFirstItem*>(&item);
    if (!found)
        return false;
    const CBag& bag = item.GetBag();
    if (!bag.GetBool(CExtentLine::kQualifiedKey))
        return false;
    CExtentLine qualified;
    qualified.path = item.GetSourceFullyQualifiedItemName();
    qualified.device = found->GetDeviceId();
    qualified.inode = found->GetInodeNumber();
    qualified.mtime = static_cast<std::uint64_t>(item.GetLastWriteTime().Seconds());
    qualified.fileSize = item.GetFileSize();
    qualified.extentSize = bag.Get<unsigned long long>(CExtentLine::kExtentSizeKey, 0);
    qualified.hasSize = true;
    qualified.size = qualified.fileSize;
    qualified.AppendTo(line);
    line.push_back('\n');
    return true;
}
}  // namespace

CFlatCollectFile::CFlatCollectFile(long long jobId, std::string path, std::string sourceVolumePath)
    : CItemConsumer(jobId), m_path(std::move(path)), m_sourceVolumePath(std::move(sourceVolumePath)),
      m_fileId(g_nextFileId.fetch_add(1, std::memory_order_relaxed))
{
}

CFlatCollectFile::~CFlatCollectFile()
{
    (void)Close();
}

CKxError CFlatCollectFile::Open(bool append)
{
    KX_RETURN_IF_FAILED(m_file.Open(m_path, append), "Failed to open collect file '%s'", m_path.c_str());
    if (!append) {
        DiscardSlots();
        setProcessedItemsCount(0);
        m_folders.store(0, std::memory_order_relaxed);
        m_dataSize.store(0, std::memory_order_relaxed);
        m_extentQualified.store(0, std::memory_order_relaxed);
        m_otherLines.store(0, std::memory_order_relaxed);
    }
    // What an appended file held before is nobody's count.
    m_linesCounted.store(!append, std::memory_order_relaxed);
    m_writable.store(true, std::memory_order_release);
    return CKxError::Success();
}

CKxError CFlatCollectFile::Close()
{
    CKxError drained = DrainSlots();
    m_writable.store(false, std::memory_order_release);
    CKxError closed = m_file.Close();
    KX_RETURN_IF_FAILED(drained.IsError() ? std::move(drained) : std::move(closed), "Failed to close collect file '%s'",
                        m_path.c_str());
    return CKxError::Success();
}

CKxError CFlatCollectFile::Flush()
{
    KX_RETURN_IF_FAILED(DrainSlots(), "Failed to flush collect file '%s'", m_path.c_str());
    CKxError flushed = m_file.Flush();
    if (flushed.IsError())
        NoteFileError();
    KX_RETURN_IF_FAILED(std::move(flushed), "Failed to flush collect file '%s'", m_path.c_str());
    return CKxError::Success();
}

std::uint64_t CFlatCollectFile::tellp()
{
    // A failure here stays in the file and is returned by the next write, Flush or Close.
    (void)DrainSlots();
    return m_file.Tell();
}

void CFlatCollectFile::NoteFileError()
{
    // Sticky failures and a closed file both make an empty append fail; other errors (an
    // unreadable file to append, say) leave the file writable.
    if (m_file.Append({}).IsError())
        m_writable.store(false, std::memory_order_release);
}

KX_HOT_PATH CFlatCollectFile::SStagingSlot* CFlatCollectFile::ThreadSlot(bool create)
{
    struct SCache {
        std::uint64_t fileIds[kCachedSlots] = {};
        SStagingSlot* slots[kCachedSlots] = {};
        size_t next = 0;  // the oldest entry, replaced next
    };
    thread_local SCache cache;
    for (size_t i = 0; i < kCachedSlots; ++i)
        if (cache.fileIds[i] == m_fileId)
            return cache.slots[i];

    // Not cached: the thread may still own a slot of this file (its entry was evicted).
    const std::thread::id self = std::this_thread::get_id();
    SStagingSlot* slot = nullptr;
    {
        std::lock_guard lock(m_slotsLock);
        for (const auto& candidate : m_slots)
            if (candidate->owner == self) {
                slot = candidate.get();
                break;
            }
        if (!slot) {
            if (!create)
                return nullptr;
            m_slots.push_back(std::make_unique<SStagingSlot>());
            slot = m_slots.back().get();
            slot->owner = self;
            Prefault::Reserve(slot->bytes, kHandOverBytes + 512);
            m_slotCount.store(m_slots.size(), std::memory_order_relaxed);
        }
    }
    cache.fileIds[cache.next] = m_fileId;
    cache.slots[cache.next] = slot;
    cache.next = (cache.next + 1) % kCachedSlots;
    return slot;
}

KX_HOT_PATH CKxError CFlatCollectFile::HandOverLocked(SStagingSlot& slot)
{
    if (slot.bytes.empty())
        return CKxError::Success();
    CKxError result = m_file.Append(slot.bytes);
    slot.bytes.clear();
    if (slot.bytes.capacity() > 4 * kHandOverBytes)
        std::string().swap(slot.bytes);  // a huge line passed: do not keep its memory
    if (result.IsError())
        NoteFileError();
    return result;
}

CKxError CFlatCollectFile::HandOverOwnSlot()
{
    if (m_slotCount.load(std::memory_order_relaxed) == 0)
        return CKxError::Success();  // nothing was ever staged in this file
    SStagingSlot* slot = ThreadSlot(false);
    if (!slot)
        return CKxError::Success();
    std::lock_guard lock(slot->lock);
    return HandOverLocked(*slot);
}

CKxError CFlatCollectFile::DrainSlots()
{
    if (m_slotCount.load(std::memory_order_acquire) == 0)
        return CKxError::Success();
    CKxError first;
    std::lock_guard listLock(m_slotsLock);
    for (const auto& slot : m_slots) {
        std::lock_guard lock(slot->lock);
        CKxError result = HandOverLocked(*slot);
        if (result.IsError() && first.IsSuccess())
            first = std::move(result);
    }
    return first;
}

void CFlatCollectFile::DiscardSlots()
{
    std::lock_guard listLock(m_slotsLock);
    for (const auto& slot : m_slots) {
        std::lock_guard lock(slot->lock);
        slot->bytes.clear();
    }
}

KX_HOT_PATH void CFlatCollectFile::FormatItemLine(std::string_view sourcePath, bool isFolder, std::uint64_t size,
                                                  std::string& line, bool withSize)
{
    const size_t start = line.size();
    escapeFileNameAppend(sourcePath, line);
    if (isFolder) {
        if (line.size() == start || line.back() != '/')
            line.push_back('/');
    } else if (withSize) {
        char digits[24];
        digits[0] = '|';
        auto [end, ec] = std::to_chars(digits + 1, digits + sizeof digits, size);
        (void)ec;
        line.append(digits, static_cast<size_t>(end - digits));
    }
    line.push_back('\n');
}

CKxError CFlatCollectFile::AppendLine(std::string_view line, bool isFolder, std::uint64_t size)
{
    return AppendLines(line, 1, isFolder ? 1 : 0, size);
}

CKxError CFlatCollectFile::AppendLines(std::string_view lines, std::uint64_t items, std::uint64_t folders,
                                       std::uint64_t size)
{
    KX_RETURN_IF_FAILED(HandOverOwnSlot(), "Failed to write to '%s'", m_path.c_str());
    CKxError result = m_file.Append(lines);
    if (result.IsError())
        NoteFileError();
    KX_RETURN_IF_FAILED(std::move(result), "Failed to write to '%s'", m_path.c_str());
    IncrementProcessedItemsCount(items);
    if (folders != 0)
        m_folders.fetch_add(folders, std::memory_order_relaxed);
    m_dataSize.fetch_add(size, std::memory_order_relaxed);
    const auto lineCount = static_cast<std::uint64_t>(std::count(lines.begin(), lines.end(), '\n'));
    if (lineCount > items)
        m_otherLines.fetch_add(lineCount - items, std::memory_order_relaxed);
    return CKxError::Success();
}

KX_HOT_PATH CKxError CFlatCollectFile::Process(const CItemPtr& item)
{
    if (!m_writable.load(std::memory_order_acquire)) [[unlikely]] {
        // Lost or shut: report why, as a direct write would.
        CKxError refused = m_file.Append({});
        if (refused.IsError()) {
            KX_RETURN_IF_FAILED(std::move(refused), "Failed to write to '%s'", m_path.c_str());
        }
    }
    const bool isFolder = item->IsFolder();
    const std::uint64_t size = isFolder ? 0 : item->GetFileSize();
    SStagingSlot& slot = *ThreadSlot(true);
    {
        std::lock_guard lock(slot.lock);
        // Most items have no bag: they never pay for the extent check.
        if (item->HasBag() && !isFolder && AppendExtentQualifiedLine(*item, slot.bytes)) [[unlikely]]
            m_extentQualified.fetch_add(1, std::memory_order_relaxed);
        else
            FormatItemLine(item->GetSourceFullyQualifiedItemName(), isFolder, size, slot.bytes, m_sizesInLines);
        if (slot.bytes.size() >= kHandOverBytes) {
            KX_RETURN_IF_FAILED(HandOverLocked(slot), "Failed to write to '%s'", m_path.c_str());
        }
    }
    IncrementProcessedItemsCount();
    if (isFolder)
        m_folders.fetch_add(1, std::memory_order_relaxed);
    m_dataSize.fetch_add(size, std::memory_order_relaxed);
    return CKxError::Success();
}

CKxError CFlatCollectFile::RawWriteItem(std::string_view line, std::uint64_t size)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    const bool isFolder = !line.empty() && line.back() == '/';
    thread_local std::string buffer;
    buffer.assign(line);
    buffer.push_back('\n');
    return AppendLine(buffer, isFolder, size);
}

CKxError CFlatCollectFile::RawWriteItems(std::string_view lines, std::uint64_t items, std::uint64_t folders,
                                         std::uint64_t size)
{
    return AppendLines(lines, items, folders, size);
}

CKxError CFlatCollectFile::RawWriteLine(std::string_view line)
{
    KX_RETURN_IF_FAILED(HandOverOwnSlot(), "Failed to write to '%s'", m_path.c_str());
    CKxError result = m_file.WithLock([&](CBufferedFile::CLockedSink& sink) {
        KX_RETURN_IF_ERROR(sink.Append(line));
        if (line.empty() || line.back() != '\n')
            KX_RETURN_IF_ERROR(sink.Append("\n"));
        return CKxError::Success();
    });
    if (result.IsError())
        NoteFileError();
    KX_RETURN_IF_FAILED(std::move(result), "Failed to write to '%s'", m_path.c_str());
    const auto inner = static_cast<std::uint64_t>(std::count(line.begin(), line.end(), '\n'));
    m_otherLines.fetch_add(inner + (line.empty() || line.back() != '\n' ? 1 : 0), std::memory_order_relaxed);
    return CKxError::Success();
}

CKxError CFlatCollectFile::RawAppendFile(const std::string& path)
{
    m_linesCounted.store(false, std::memory_order_relaxed);
    KX_RETURN_IF_FAILED(HandOverOwnSlot(), "Failed to append '%s' to collect file '%s'", path.c_str(), m_path.c_str());
    CKxError result = m_file.AppendFile(path);
    if (result.IsError())
        NoteFileError();
    KX_RETURN_IF_FAILED(std::move(result), "Failed to append '%s' to collect file '%s'", path.c_str(),
                        m_path.c_str());
    return CKxError::Success();
}
