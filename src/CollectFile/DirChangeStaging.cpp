#include "CollectFile/DirChangeStaging.h"

#include "CollectFile/DirChangeFileLayout.h"
#include "CollectFile/DirChangePathOrder.h"
#include "CollectFile/FileNameEscaping.h"
#include "CollectFile/PathCacheFlatFileIndex.h"

#include <algorithm>

namespace {
std::atomic<std::uint64_t> g_nextStagingId{1};
constexpr size_t kCachedSlots = 8;
}  // namespace

void CDirChangeStaging::SGroup::Clear()
{
    folder.clear();
    lines.clear();
    names.clear();
    items.clear();
}

CDirChangeStaging::CDirChangeStaging(CPathCacheFlatFileIndex& index)
    : m_index(index), m_id(g_nextStagingId.fetch_add(1, std::memory_order_relaxed))
{
}

CDirChangeStaging::~CDirChangeStaging() = default;

CDirChangeStaging::SSlot& CDirChangeStaging::ThreadSlot()
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

CKxError CDirChangeStaging::AddText(std::string_view path, bool isFile, std::string_view text)
{
    if (m_closed.load(std::memory_order_acquire) || m_index.IsClosed()) [[unlikely]]
        return CKxError(6, KxFormat("The directory-change file '%s' is closed for new entries",
                                    m_index.GetCurrentBackingFilePath().c_str()));
    if (isFile && !m_index.IsIncludeFiles())
        return CKxError::Success();
    path = DirChangePathOrder::TrimTrailingSlashes(path);
    if (path.empty())
        return CKxError(KxCode::InvalidParameter, "A directory-change entry needs a path");
    std::string_view folder, name;
    DirChangePathOrder::Split(path, folder, name);

    if ((!text.empty() && text.front() != '|') || text.find('\n') != std::string_view::npos) [[unlikely]]
        return CKxError(KxCode::InvalidParameter,
                        KxFormat("The record text of '%s' cannot be stored (it must be empty or begin with '|' and "
                                 "hold no newline)",
                                 escapeFileName(path).c_str()));

    SSlot& slot = ThreadSlot();
    std::lock_guard lock(slot.lock);
    // A walker adds a folder's entries one after the other: the last group is the usual answer.
    SGroup* group = slot.used > 0 && slot.groups[slot.used - 1].folder == folder ? &slot.groups[slot.used - 1] : nullptr;
    if (!group) {
        auto known = slot.groupOf.find(folder);
        if (known != slot.groupOf.end()) {
            group = &slot.groups[known->second];
        } else {
            if (slot.used == slot.groups.size())
                slot.groups.emplace_back();
            group = &slot.groups[slot.used];
            group->Clear();
            group->folder.assign(folder);
            slot.groupOf.emplace(group->folder, slot.used);
            ++slot.used;
            slot.bytes += folder.size() + 64;
        }
    }
    SItem item{};
    item.kind = isFile ? DirChangeFileLayout::kFileKind : DirChangeFileLayout::kFolderKind;
    item.lineOffset = static_cast<std::uint32_t>(group->lines.size());
    group->lines.push_back(item.kind);
    if (isEscapeFree(name)) {
        item.nameOffset = item.lineOffset + 1;
        item.nameInNames = false;
        group->lines.append(name);
    } else {
        item.nameOffset = static_cast<std::uint32_t>(group->names.size());
        item.nameInNames = true;
        group->names.append(name);
        escapeFileNameAppend(name, group->lines);
    }
    item.nameLength = static_cast<std::uint32_t>(name.size());
    group->lines.append(text);
    group->lines.push_back('\n');
    item.lineLength = static_cast<std::uint32_t>(group->lines.size() - item.lineOffset);
    group->items.push_back(item);
    slot.bytes += item.lineLength + sizeof(SItem);
    if (slot.bytes >= kHandOverBytes)
        return HandOverLocked(slot);
    return CKxError::Success();
}

CKxError CDirChangeStaging::HandOverLocked(SSlot& slot)
{
    using DirChangeFileLayout::SChunkRef;
    if (slot.used == 0)
        return CKxError::Success();
    std::vector<SChunkRef> chunks;
    chunks.reserve(slot.used);
    slot.batch.clear();
    std::uint64_t entries = 0;
    for (size_t g = 0; g < slot.used; ++g) {
        SGroup& group = slot.groups[g];
        slot.order.resize(group.items.size());
        for (size_t i = 0; i < group.items.size(); ++i) {
            const SItem& item = group.items[i];
            const std::string& source = item.nameInNames ? group.names : group.lines;
            slot.order[i] = SSortKey{std::string_view(source).substr(item.nameOffset, item.nameLength),
                                     static_cast<std::uint32_t>(i), item.kind};
        }
        auto less = [](const SSortKey& x, const SSortKey& y) {
            const int order = x.name.compare(y.name);
            if (order != 0)
                return order < 0;
            return x.kind != y.kind ? x.kind < y.kind : x.item < y.item;
        };
        // Among entries for the same (name, kind) the last added stays last and wins.
        if (!std::is_sorted(slot.order.begin(), slot.order.end(), less))
            std::sort(slot.order.begin(), slot.order.end(), less);
        const size_t begin = slot.batch.size();
        for (size_t k = 0; k < slot.order.size(); ++k) {
            const SSortKey& key = slot.order[k];
            if (k + 1 < slot.order.size()) {
                const SSortKey& next = slot.order[k + 1];
                if (next.kind == key.kind && next.name == key.name)
                    continue;
            }
            const SItem& item = group.items[key.item];
            slot.batch.append(group.lines, item.lineOffset, item.lineLength);
            ++entries;
        }
        SChunkRef chunk;
        chunk.folder = group.folder;
        chunk.offset = begin;
        chunk.length = slot.batch.size() - begin;
        chunk.hash = DirChangeFileLayout::Hash64(std::string_view(slot.batch).substr(begin));
        chunks.push_back(std::move(chunk));
        group.Clear();
    }
    slot.used = 0;
    slot.bytes = 0;
    slot.groupOf.clear();
    CKxError result = m_index.AppendChunks(slot.batch, chunks, entries);
    if (slot.batch.capacity() > 4 * kHandOverBytes)
        std::string().swap(slot.batch);
    return result;
}

CKxError CDirChangeStaging::Flush()
{
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

CKxError CDirChangeStaging::Close()
{
    CKxError flushed = Flush();
    m_closed.store(true, std::memory_order_release);
    return flushed;
}
