#pragma once
// CDirChangeStaging: per-thread staging of directory-change entries on their way into a
// CPathCacheFlatFileIndex; the engine of the index buffers and of the index's own AddItem.
//
// Each adding thread owns a slot: its entries, grouped by folder (one group per folder, the
// entries in the order they came), are kept there without any shared lock. When a slot holds kHandOverBytes, its groups are handed
// over: each group sorted by (name, kind), a later entry for the same (name, kind) replacing an
// earlier one, becomes one chunk, and all of them reach the index in one append.
//
// Thread: Add from any thread. Flush and Close from the owner once the adders are done (they
// drain every slot, but entries staged meanwhile may land after them).
#include "Base/KxError.h"
#include "CollectFile/FVBase.h"

#include <atomic>
#include <cstdint>
#include <deque>
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
    static constexpr size_t kHandOverBytes = size_t{256} << 10;

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
    struct SItem {
        std::uint32_t lineOffset;  // in the group's lines: kind, escaped name, text, '\n'
        std::uint32_t lineLength;
        std::uint32_t nameOffset;  // raw name: in `lines` (escape-free names) or in `names`
        std::uint32_t nameLength;
        bool nameInNames;
        char kind;
    };
    // One entry in a hand-over's sort: (name, kind), then the order added, so that a plain sort
    // keeps equal keys in the order they came.
    struct SSortKey {
        std::string_view name;
        std::uint32_t item;
        char kind;
    };
    struct SGroup {
        std::string folder;
        std::string lines;
        std::string names;
        std::vector<SItem> items;
        void Clear();
    };
    struct SSlot {
        std::mutex lock;
        std::thread::id owner;
        // The first `used` are live, the rest keep their memory for later groups. A deque, so
        // that `groupOf` may view the groups' folder names.
        std::deque<SGroup> groups;
        size_t used = 0;
        std::unordered_map<std::string_view, size_t> groupOf;  // folder -> live group
        size_t bytes = 0;
        std::string batch;
        std::vector<SSortKey> order;
    };

    SSlot& ThreadSlot();
    CKxError HandOverLocked(SSlot& slot);

    CPathCacheFlatFileIndex& m_index;
    const std::uint64_t m_id;  // tells this staging's entries in the threads' slot caches apart
    std::atomic<bool> m_closed{false};
    std::mutex m_slotsLock;  // guards the list m_slots (not the slots' content)
    std::vector<std::unique_ptr<SSlot>> m_slots;
};
