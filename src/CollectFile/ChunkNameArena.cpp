#include "CollectFile/ChunkNameArena.h"

#include "Base/Prefault.h"

#include <algorithm>
#include <cstring>

std::string_view CChunkNameArena::Add(std::string_view name)
{
    if (name.size() > m_left) {
        // A name longer than a block gets a block of its own; the rest of the current block
        // is given up, which wastes at most one name's length per block.
        const size_t size = std::max(kBlockBytes, name.size());
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(size));
        m_next = m_blocks.back().get();
        Prefault::Range(m_next, size);  // in one call, not a fault per page
        m_left = size;
    }
    char* at = m_next;
    if (!name.empty())
        std::memcpy(at, name.data(), name.size());
    m_next += name.size();
    m_left -= name.size();
    return {at, name.size()};
}

void CChunkNameArena::Clear()
{
    m_blocks.clear();
    m_next = nullptr;
    m_left = 0;
}
