#include "CollectFile/DirChangeFolderEntries.h"

#include "Base/FileNameEscaping.h"

#include <algorithm>

namespace {
bool EntryLess(const CDirChangeFolderEntries::SEntry& a, const CDirChangeFolderEntries::SEntry& b)
{
    const int order = a.name.compare(b.name);
    return order != 0 ? order < 0 : a.kind < b.kind;
}
bool SameKey(const CDirChangeFolderEntries::SEntry& a, const CDirChangeFolderEntries::SEntry& b)
{
    return a.kind == b.kind && a.name == b.name;
}
}  // namespace

CKxError CDirChangeFolderEntries::ReadAt(int fd, const std::string& filePath, std::uint64_t offset,
                                         std::uint64_t length, std::string& out)
{
    return CDirChangeChunkReader::ReadAt(fd, filePath, offset, length, out);
}

CKxError CDirChangeFolderEntries::Load(int fd, const std::string& filePath,
                                       const DirChangeFileLayout::SChunkRef* const* chunks, size_t count)
{
    CDirChangeChunkReader direct(fd, filePath, 0);
    return Load(direct, chunks, count);
}

CKxError CDirChangeFolderEntries::Load(CDirChangeChunkReader& reader,
                                       const DirChangeFileLayout::SChunkRef* const* chunks, size_t count)
{
    using namespace DirChangeFileLayout;
    const std::string& filePath = reader.FilePath();
    m_bytes.clear();
    m_decoded.clear();
    m_entries.clear();
    std::uint64_t total = 0;
    for (size_t i = 0; i < count; ++i)
        total += chunks[i]->length;
    m_bytes.reserve(total);
    // A guess from the usual line length, so that a folder's list seldom grows more than once.
    m_entries.reserve(static_cast<size_t>(total / 24 + 4));

    bool sorted = true;
    std::string cause;
    std::string name;
    for (size_t i = 0; i < count; ++i) {
        const SChunkRef& chunk = *chunks[i];
        const size_t begin = m_bytes.size();
        KX_RETURN_IF_ERROR(reader.Read(chunk.offset, chunk.length, m_bytes));
        const std::string_view bytes = std::string_view(m_bytes).substr(begin);
        auto damaged = [&](const std::string& why) {
            return CKxError(KxCode::InvalidData,
                            KxFormat("Directory-change file '%s' is truncated or corrupt: chunk of folder '%s' at "
                                     "offset %llu: %s",
                                     filePath.c_str(), escapeFileName(chunk.folder).c_str(),
                                     static_cast<unsigned long long>(chunk.offset), why.c_str()));
        };
        if (Hash64(bytes) != chunk.hash)
            return damaged("checksum mismatch");
        const size_t firstOfChunk = m_entries.size();
        size_t pos = 0;
        SEntryLine line;
        while (pos < bytes.size()) {
            if (!ParseEntryLine(bytes, pos, line, cause))
                return damaged(cause);
            std::string_view decodedName = line.escapedName;
            if (!isEscapeFree(line.escapedName)) {
                if (unescapeFileName(line.escapedName, name).IsError())
                    return damaged("bad name escape");
                // Reserved once, before the first view into it: a decoded name is never longer
                // than its escaped form, so it never moves.
                if (m_decoded.capacity() < total)
                    m_decoded.reserve(total);
                const size_t at = m_decoded.size();
                m_decoded.append(name);
                decodedName = std::string_view(m_decoded).substr(at, name.size());
            }
            SEntry entry{decodedName, line.text, line.kind, (chunk.flags & kChunkCarried) != 0,
                         (chunk.flags & kChunkKept) != 0};
            if (m_entries.size() > firstOfChunk && !EntryLess(m_entries.back(), entry))
                return damaged("entries out of order");
            if (i > 0 && sorted && !m_entries.empty() && !EntryLess(m_entries.back(), entry))
                sorted = false;
            m_entries.push_back(entry);
        }
    }
    if (!sorted) {
        // Several chunks overlap: stable order keeps file order among equal keys. Of each run the
        // last entry the file's own job made wins (a kept entry is an older job's record, which
        // the job looked at again), else the last.
        std::stable_sort(m_entries.begin(), m_entries.end(), EntryLess);
        size_t out = 0;
        for (size_t i = 0; i < m_entries.size();) {
            size_t end = i + 1;
            while (end < m_entries.size() && SameKey(m_entries[i], m_entries[end]))
                ++end;
            size_t pick = end - 1;
            for (size_t k = end; k-- > i;)
                if (!m_entries[k].kept) {
                    pick = k;
                    break;
                }
            m_entries[out++] = m_entries[pick];
            i = end;
        }
        m_entries.resize(out);
    }
    return CKxError::Success();
}

const CDirChangeFolderEntries::SEntry* CDirChangeFolderEntries::Find(std::string_view name, char kind) const
{
    const SEntry key{name, {}, kind, false, false};
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), key, EntryLess);
    if (it == m_entries.end() || !SameKey(*it, key))
        return nullptr;
    return &*it;
}
