#pragma once
// CExtentCheck: the backup phase's check that the extents of every file backed up by extents
// add up to the whole file, wherever the split put them.
//
// Every "%EXTENT%" and "%CONTAINER%" line of the job's collect files is handed to Take (any
// order, any file); the extents are gathered per file (device, inode). Verify then asks of each
// file: its extent indexes are 0..n-1, each once, n is what its file size and extent size make,
// their lengths (the "|<length>" a line still has, else the length its index gives) sum to its
// file size, every extent line agrees on those two sizes, and the file has its container line.
// The first file that fails is named with the cause. A stream that lost an extent would restore
// a file with a hole in it, so such a job must not pass.
//
// Thread: one object, one thread.
#include "Base/KxError.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CExtentCheck {
public:
    // `taken` is true when `line` is an extent or container line (then counted); a malformed
    // one, or an extent-qualified line the scan left unexpanded, is error 13 naming it.
    [[nodiscard]] CKxError Take(std::string_view line, bool& taken);
    [[nodiscard]] CKxError Verify() const;

    std::uint64_t Extents() const { return m_extents; }
    std::uint64_t Files() const { return m_files.size(); }
    std::uint64_t Containers() const { return m_containers.size(); }

private:
    using Key = std::pair<std::uint64_t, std::uint64_t>;  // device, inode
    struct SFile {
        std::string path;
        std::uint64_t fileSize = 0;
        std::uint64_t extentSize = 0;
        bool sizesDiffer = false;
        std::uint64_t bytes = 0;  // lengths of the extents seen
        std::vector<std::uint64_t> indexes;
    };

    std::map<Key, SFile> m_files;
    std::set<Key> m_containers;
    std::uint64_t m_extents = 0;
};
