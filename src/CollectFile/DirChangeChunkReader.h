#pragma once
// CDirChangeChunkReader: reads chunks of one directory-change file through a few large windows,
// so that a run of folders read in path order costs a handful of reads instead of one system
// call per chunk (the chunks of one hand-over lie back to back in walk order, and several
// hand-overs interleave: hence several windows).
//
// Only bytes below `limit` are kept in a window: a file's bytes never change once they lie
// below its known end (chunks are appended, the index and trailer after them), so a window
// never holds anything stale. Reads reaching past `limit`, or longer than a window, go to the
// file directly.
//
// Thread: one reader belongs to one thread.
#include "Base/KxError.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CDirChangeChunkReader {
public:
    static constexpr size_t kWindows = 8;
    static constexpr size_t kWindowBytes = size_t{128} << 10;

    // `fd` and `filePath` stay owned by the caller, unchanged while the reader is used.
    // `limit` 0 or `windows` 0: no windows. Memory: up to `windows` * `windowBytes`.
    CDirChangeChunkReader(int fd, const std::string& filePath, std::uint64_t limit, size_t windows = kWindows,
                          size_t windowBytes = kWindowBytes);
    CDirChangeChunkReader(const CDirChangeChunkReader&) = delete;
    CDirChangeChunkReader& operator=(const CDirChangeChunkReader&) = delete;

    // Appends `length` bytes at `offset` to `out`. A file that ends before: error 13; a failed
    // read: the system error naming the file.
    [[nodiscard]] CKxError Read(std::uint64_t offset, std::uint64_t length, std::string& out);

    int Fd() const { return m_fd; }
    const std::string& FilePath() const { return m_path; }

    // Reads `length` bytes at `offset` of `fd` into `out` (appending), without windows.
    [[nodiscard]] static CKxError ReadAt(int fd, const std::string& filePath, std::uint64_t offset,
                                         std::uint64_t length, std::string& out);

private:
    struct SWindow {
        std::uint64_t offset = 0;
        size_t size = 0;  // 0: unused
        std::unique_ptr<char[]> bytes;
    };

    int m_fd;
    const std::string& m_path;
    std::uint64_t m_limit;
    size_t m_windowBytes;
    std::vector<SWindow> m_windows;
    size_t m_next = 0;  // the window to refill next
};
