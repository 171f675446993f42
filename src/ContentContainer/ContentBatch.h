#pragma once
// CX::CContentBatch: items waiting to be written into a content container, as compact records:
// one text arena holding each item's path and metadata back to back, and one small entry per
// item (offsets, lengths, kind). A batch of 10,000 items costs two allocations that are reused
// batch after batch, not two strings per item.
//
// Thread: not guarded; its owner (CContentContainerBuffer) holds a lock around it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace CX {

class CContentBatch {
public:
    struct SEntry {
        std::uint32_t offset;          // of the path in the arena; the metadata follows it
        std::uint32_t pathLength;
        std::uint32_t metadataLength;
        bool folder;
    };

    // Reserves the entry of one item: its path is appended now, its metadata by the caller into
    // Arena() right after; Commit closes the entry.
    std::string& Begin(std::string_view path, bool folder);
    void Commit();

    size_t Size() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }
    void Clear();
    void Swap(CContentBatch& other) noexcept;

    const std::vector<SEntry>& Entries() const { return m_entries; }
    std::string_view Path(const SEntry& entry) const { return {m_arena.data() + entry.offset, entry.pathLength}; }
    std::string_view Metadata(const SEntry& entry) const
    {
        return {m_arena.data() + entry.offset + entry.pathLength, entry.metadataLength};
    }

private:
    std::string m_arena;
    std::vector<SEntry> m_entries;
};

}  // namespace CX
