#pragma once
// CDirChangeStaging: per-thread staging of directory-change entries on their way into a
// CPathCacheFlatFileIndex; the engine of the index buffers and of the index's own AddItem.
//
// Each adding thread owns a slot and appends its entries there, as they come, to one log: path,
// kind and record text, nothing else. An add thus touches only the end of the log and costs the
// walker, whose caches the system calls between two items have emptied, next to nothing. When
// the log holds kHandOverBytes it is handed over in one tight pass over memory just written:
// the entries are grouped by folder, each group sorted by (name, kind) (a later entry for the
// same (name, kind) replacing an earlier one) becomes one chunk, and all of them reach the index
// in one append. The slot's buffers keep their memory from one hand-over to the next.
//
// Thread: Add from any thread; a slot is touched only by its thread, so an add takes no lock.
// Flush and Close drain every slot: they belong to the owner and run once the adders are done
// (their threads joined or otherwise known to have returned), never beside an add.
#include "Base/KxError.h"
#include "CollectFile/DirChangeFileLayout.h"
#include "CollectFile/FVBase.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

class CPathCacheFlatFileIndex;

class CDirChangeStaging {
public:
    // Small on purpose: a slot's buffers are touched once and reused, and every fresh page costs
    // the walk more than the hand-overs a larger log would save.
    static constexpr size_t kHandOverBytes = size_t{64} << 10;
    // Entries of a hand-over the per-slot lists are sized for (they grow past it if need be).
    static constexpr size_t kHandOverEntries = 2048;
    // A chunk record's memory besides its folder path: the record, the path's heap block.
    static constexpr size_t kChunkOverheadBytes = sizeof(DirChangeFileLayout::SChunkRef) + 48;
    // Heap made resident at once when a slot's chunk records need more.
    static constexpr size_t kResidentHeapStep = size_t{1} << 20;

    explicit CDirChangeStaging(CPathCacheFlatFileIndex& index);
    CDirChangeStaging(const CDirChangeStaging&) = delete;
    CDirChangeStaging& operator=(const CDirChangeStaging&) = delete;
    ~CDirChangeStaging();

    // `path` without trailing '/' (trailing ones are dropped); empty: error 87. A record whose
    // text holds a newline or does not begin with '|': error 87. Closed: error 6. File entries
    // are dropped (success) while the index does not include files.
    [[nodiscard]] CKxError Add(std::string_view path, bool isFile, const FVBasePtr& record);
    // As Add, with the record text already made (what the index's formatter would make of the
    // record): the per-item path of writers that format their own records.
    [[nodiscard]] CKxError AddText(std::string_view path, bool isFile, std::string_view text);
    [[nodiscard]] CKxError Flush();
    [[nodiscard]] CKxError Close();
    bool IsClosed() const { return m_closed.load(std::memory_order_acquire); }

private:
    // One entry of the log, as a hand-over finds it.
    struct SItem {
        std::uint32_t nameOffset;  // in the log
        std::uint32_t nameLength;
        std::uint32_t textOffset;
        std::uint32_t textLength;
        std::uint32_t group;
        char kind;
    };
    // One entry in a hand-over's sort: (name, kind), then the order added, so that a plain sort
    // keeps equal keys in the order they came.
    struct SSortKey {
        std::uint64_t prefix;  // the name's first eight bytes, big-endian: most comparisons end here
        std::string_view name;
        std::uint32_t item;
        char kind;
    };
    struct SGroup {
        std::string_view folder;  // in the log
        std::uint32_t count = 0;  // entries
        std::uint32_t next = 0;   // where its next sort key goes
    };
    struct SSlot {
        std::thread::id owner;
        // Per entry: path length (u32), text length (u32), kind, path, text.
        std::string log;
        // A hand-over's working memory.
        std::vector<SItem> items;
        std::vector<SGroup> groups;
        std::unordered_map<std::string_view, std::uint32_t> groupOf;  // folder -> group
        std::vector<SSortKey> order;
        std::string batch;
        std::vector<DirChangeFileLayout::SChunkRef> chunks;  // the batch's, reused: no fresh pages per hand-over
        size_t residentHeap = 0;  // bytes of this thread's heap made resident and not yet used
    };

    SSlot& ThreadSlot();
    CKxError HandOver(SSlot& slot);

    CPathCacheFlatFileIndex& m_index;
    const std::uint64_t m_id;  // tells this staging's entries in the threads' slot caches apart
    std::atomic<bool> m_closed{false};
    std::mutex m_slotsLock;  // guards the list m_slots (not the slots' content)
    std::vector<std::unique_ptr<SSlot>> m_slots;
};
