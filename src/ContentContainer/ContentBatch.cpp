#include "ContentContainer/ContentBatch.h"

namespace CX {

std::string& CContentBatch::Begin(std::string_view path, bool folder)
{
    m_entries.push_back({static_cast<std::uint32_t>(m_arena.size()), static_cast<std::uint32_t>(path.size()), 0, folder});
    m_arena.append(path);
    return m_arena;
}

void CContentBatch::Commit()
{
    SEntry& entry = m_entries.back();
    entry.metadataLength = static_cast<std::uint32_t>(m_arena.size() - entry.offset - entry.pathLength);
}

void CContentBatch::Clear()
{
    m_arena.clear();
    m_entries.clear();
}

void CContentBatch::Swap(CContentBatch& other) noexcept
{
    m_arena.swap(other.m_arena);
    m_entries.swap(other.m_entries);
}

}  // namespace CX
