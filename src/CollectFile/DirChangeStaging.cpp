#include "CollectFile/DirChangeStaging.h"

#include "Base/HotPath.h"
#include "Base/Prefault.h"
#include "CollectFile/DirChangeFileLayout.h"
#include "Base/DirChangePathOrder.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/PathCacheFlatFileIndex.h"

#include <algorithm>
#include <cstring>

namespace {
std::atomic<std::uint64_t> g_nextStagingId{1};
constexpr size_t kCachedSlots = 8;
}  // namespace

CDirChangeStaging::CDirChangeStaging(CPathCacheFlatFileIndex& index)
    : m_index(index), m_id(g_nextStagingId.fetch_add(1, std::memory_order_relaxed))
{
}

CDirChangeStaging::~CDirChangeStaging() = default;

KX_HOT_PATH CDirChangeStaging::SSlot& CDirChangeStaging::ThreadSlot()
{
    struct SCache {
        std::uint64_t ids[kCachedSlots] = {};
        SSlot* slots[kCachedSlots] = {};
        size_t next = 0;
    };
    thread_local SCache cache;
    for (size_t i = 0; i < kCachedSlots; ++i)
        if (cache.ids[i] == m_id)
            return *cache.slots[i];
    const std::thread::id self = std::this_thread::get_id();
    SSlot* slot = nullptr;
    {
        std::lock_guard lock(m_slotsLock);
        for (const auto& candidate : m_slots)
            if (candidate->owner == self) {
                slot = candidate.get();
                break;
            }
        if (!slot) {
            m_slots.push_back(std::make_unique<SSlot>());
            slot = m_slots.back().get();
            slot->owner = self;
            // Filled at every hand-over: resident from the start rather than faulted in page by page.
            Prefault::Reserve(slot->log, kHandOverBytes + 4096);
            Prefault::Reserve(slot->batch, kHandOverBytes + 4096);
            Prefault::Reserve(slot->items, kHandOverEntries);
            Prefault::Reserve(slot->order, kHandOverEntries);
        }
    }
    cache.ids[cache.next] = m_id;
    cache.slots[cache.next] = slot;
    cache.next = (cache.next + 1) % kCachedSlots;
    return *slot;
}

CKxError CDirChangeStaging::Add(std::string_view path, bool isFile, const FVBasePtr& record)
{
    if (isFile && !m_index.IsIncludeFiles() && !IsClosed() && !m_index.IsClosed())
        return CKxError::Success();
    return AddText(path, isFile, m_index.GetItemInfoFormatter()->GetFormattedData(record));
}

KX_HOT_PATH CKxError CDirChangeStaging::AddText(std::string_view path, bool isFile, std::string_view text)
{
    if (m_closed.load(std::memory_order_acquire) || m_index.IsClosed()) [[unlikely]]
        return CKxError(6, KxFormat("The directory-change file '%s' is closed for new entries",
                                    m_index.GetCurrentBackingFilePath().c_str()));
    if (isFile && !m_index.IsIncludeFiles())
        return CKxError::Success();
    path = DirChangePathOrder::TrimTrailingSlashes(path);
    if (path.empty())
        return CKxError(KxCode::InvalidParameter, "A directory-change entry needs a path");
    if ((!text.empty() && text.front() != '|') || text.find('\n') != std::string_view::npos) [[unlikely]]
        return CKxError(KxCode::InvalidParameter,
                        KxFormat("The record text of '%s' cannot be stored (it must be empty or begin with '|' and "
                                 "hold no newline)",
                                 escapeFileName(path).c_str()));

    SSlot& slot = ThreadSlot();
    const std::uint32_t lengths[2] = {static_cast<std::uint32_t>(path.size()), static_cast<std::uint32_t>(text.size())};
    slot.log.append(reinterpret_cast<const char*>(lengths), sizeof lengths);
    slot.log.push_back(isFile ? DirChangeFileLayout::kFileKind : DirChangeFileLayout::kFolderKind);
    slot.log.append(path);
    slot.log.append(text);
    if (slot.log.size() >= kHandOverBytes)
        return HandOver(slot);
    return CKxError::Success();
}

KX_HOT_PATH CKxError CDirChangeStaging::HandOver(SSlot& slot)
{
    using DirChangeFileLayout::SChunkRef;
    if (slot.log.empty())
        return CKxError::Success();
    // The entries, grouped by folder: groups in the order they began, a group's entries in the
    // order they came. A walker adds a folder's entries one after the other, so the previous
    // entry's group is the usual answer.
    const std::string_view log = slot.log;
    slot.items.clear();
    slot.groups.clear();
    slot.groupOf.clear();
    for (size_t at = 0; at < log.size();) {
        std::uint32_t lengths[2];
        std::memcpy(lengths, log.data() + at, sizeof lengths);
        at += sizeof lengths;
        SItem item{};
        item.kind = log[at++];
        const std::string_view path = log.substr(at, lengths[0]);
        std::string_view folder, name;
        DirChangePathOrder::Split(path, folder, name);
        // The name ends the path (the root's is empty and viewed nowhere).
        item.nameOffset = static_cast<std::uint32_t>(at + path.size() - name.size());
        item.nameLength = static_cast<std::uint32_t>(name.size());
        at += lengths[0];
        item.textOffset = static_cast<std::uint32_t>(at);
        item.textLength = lengths[1];
        at += lengths[1];
        if (!slot.groups.empty() && slot.groups.back().folder == folder) {
            item.group = static_cast<std::uint32_t>(slot.groups.size() - 1);
        } else if (auto known = slot.groupOf.find(folder); known != slot.groupOf.end()) {
            item.group = known->second;
        } else {
            item.group = static_cast<std::uint32_t>(slot.groups.size());
            slot.groups.push_back(SGroup{folder, 0, 0});
            slot.groupOf.emplace(folder, item.group);
        }
        ++slot.groups[item.group].count;
        slot.items.push_back(item);
    }
    std::uint32_t start = 0;
    for (SGroup& group : slot.groups) {
        group.next = start;
        start += group.count;
    }
    slot.order.resize(slot.items.size());
    for (size_t i = 0; i < slot.items.size(); ++i) {
        const SItem& item = slot.items[i];
        const std::string_view name = log.substr(item.nameOffset, item.nameLength);
        char head[8] = {};
        std::memcpy(head, name.data(), std::min<size_t>(name.size(), 8));
        std::uint64_t prefix;
        std::memcpy(&prefix, head, 8);
        slot.order[slot.groups[item.group].next++] =
            SSortKey{__builtin_bswap64(prefix), name, static_cast<std::uint32_t>(i), item.kind};
    }

    // Each group sorted on its own: a folder's entries are few, so the sorts stay short.
    auto less = [](const SSortKey& x, const SSortKey& y) {
        if (x.prefix != y.prefix)
            return x.prefix < y.prefix;
        const int order = x.name.compare(y.name);
        if (order != 0)
            return order < 0;
        return x.kind != y.kind ? x.kind < y.kind : x.item < y.item;
    };
    std::vector<SChunkRef>& chunks = slot.chunks;
    chunks.clear();
    slot.batch.clear();
    // The chunk records stay until the file closes, with their folder paths: their memory is
    // new memory of this thread's heap, made resident a step ahead of need.
    size_t retained = 0;
    for (const SGroup& group : slot.groups)
        retained += kChunkOverheadBytes + group.folder.size();
    if (retained > slot.residentHeap) {
        const size_t step = std::max(kResidentHeapStep, retained);
        Prefault::ThreadHeap(step);
        slot.residentHeap += step;
    }
    slot.residentHeap -= retained;
    std::uint64_t entries = 0;
    auto first = slot.order.begin();
    for (const SGroup& group : slot.groups) {
        const auto last = first + group.count;
        // Among entries for the same (name, kind) the last added stays last and wins.
        if (!std::is_sorted(first, last, less))
            std::sort(first, last, less);
        const size_t begin = slot.batch.size();
        for (auto key = first; key != last; ++key) {
            const auto next = key + 1;
            if (next != last && next->prefix == key->prefix && next->kind == key->kind && next->name == key->name)
                continue;
            slot.batch.push_back(key->kind);
            if (isEscapeFree(key->name))
                slot.batch.append(key->name);
            else
                escapeFileNameAppend(key->name, slot.batch);
            const SItem& item = slot.items[key->item];
            slot.batch.append(log, item.textOffset, item.textLength);
            slot.batch.push_back('\n');
            ++entries;
        }
        SChunkRef chunk;
        chunk.folder = group.folder;  // in the log: the index copies it before the log is cleared
        chunk.offset = begin;
        chunk.length = slot.batch.size() - begin;
        chunk.hash = DirChangeFileLayout::Hash64(std::string_view(slot.batch).substr(begin));
        chunks.push_back(std::move(chunk));
        first = last;
    }
    CKxError result = m_index.AppendChunks(slot.batch, chunks, entries);
    chunks.clear();
    slot.groupOf.clear();
    slot.groups.clear();
    slot.log.clear();
    // A single huge entry may have grown the buffers: they do not keep that memory.
    if (slot.batch.capacity() > 4 * kHandOverBytes || slot.log.capacity() > 4 * kHandOverBytes) {
        std::string().swap(slot.batch);
        std::string().swap(slot.log);
    }
    return result;
}

CKxError CDirChangeStaging::Flush()
{
    CKxError first;
    std::lock_guard listLock(m_slotsLock);
    for (const auto& slot : m_slots) {
        CKxError result = HandOver(*slot);
        if (result.IsError() && first.IsSuccess())
            first = std::move(result);
    }
    return first;
}

CKxError CDirChangeStaging::Close()
{
    CKxError flushed = Flush();
    m_closed.store(true, std::memory_order_release);
    return flushed;
}
