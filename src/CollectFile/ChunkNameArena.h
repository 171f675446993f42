#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

// Holds the folder names that a directory-change file's chunk references view. A record of a
// large tree has tens of thousands of chunks: their names are copied into a few large blocks
// rather than allocated one by one, and a name, once added, never moves until Clear.
class CChunkNameArena {
public:
    CChunkNameArena() = default;
    CChunkNameArena(CChunkNameArena&&) noexcept = default;
    CChunkNameArena& operator=(CChunkNameArena&&) noexcept = default;

    // A copy of `name` that stays where it is while the arena lives.
    std::string_view Add(std::string_view name);
    void Clear();

private:
    static constexpr size_t kBlockBytes = size_t{256} << 10;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_next = nullptr;
    size_t m_left = 0;
};
