#pragma once
// CDirChangeFolderEntries: the entries of one folder of a directory-change file, read from all
// of the folder's chunks and merged: sorted by name then kind (folder before file), one entry
// per (name, kind), the entry of the later chunk winning. This is the unit the index loads:
// a lookup loads a folder once and answers the rest of the folder from memory, and the
// comparison merges two of them.
//
// Thread: Load belongs to the builder; a loaded object is immutable and may be read by any
// number of threads (the lookup caches share them).
#include "Base/KxError.h"
#include "CollectFile/DirChangeChunkReader.h"
#include "CollectFile/DirChangeFileLayout.h"

#include <string>
#include <string_view>
#include <vector>

class CDirChangeFolderEntries {
public:
    struct SEntry {
        std::string_view name;  // decoded
        std::string_view text;  // record text as stored
        char kind;              // DirChangeFileLayout::kFolderKind or kFileKind
        bool carried;           // from a carried chunk
        bool kept;              // from a kept chunk (copied unchanged)
    };

    CDirChangeFolderEntries() = default;
    // Entries view the object's own buffers: it stays where it was built.
    CDirChangeFolderEntries(const CDirChangeFolderEntries&) = delete;
    CDirChangeFolderEntries& operator=(const CDirChangeFolderEntries&) = delete;

    // Reads `count` chunks of one folder from `fd` (in file order, so that later ones win),
    // checks their hashes and merges them. A damaged chunk is error 13 naming `filePath`, the
    // folder and the cause; a read failure the system error.
    [[nodiscard]] CKxError Load(int fd, const std::string& filePath, const DirChangeFileLayout::SChunkRef* const* chunks,
                                size_t count);
    // The same through `reader` (its file).
    [[nodiscard]] CKxError Load(CDirChangeChunkReader& reader, const DirChangeFileLayout::SChunkRef* const* chunks,
                                size_t count);

    const std::vector<SEntry>& Entries() const { return m_entries; }
    // The entry (name, kind), or null.
    const SEntry* Find(std::string_view name, char kind) const;
    size_t MemoryBytes() const { return m_bytes.capacity() + m_decoded.capacity() + m_entries.capacity() * sizeof(SEntry); }

    // Reads `length` bytes at `offset` of `fd` into `out` (appending). Short file: error 13.
    [[nodiscard]] static CKxError ReadAt(int fd, const std::string& filePath, std::uint64_t offset,
                                         std::uint64_t length, std::string& out);

private:
    std::string m_bytes;    // the chunks as read
    std::string m_decoded;  // decoded names that escaping changed; reserved before the first goes in, never moves
    std::vector<SEntry> m_entries;
};
