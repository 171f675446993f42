#pragma once
// FileExtentRecord: one page of a large file's extent bookkeeping in the file-extent table.
// A file backed up as extents has one record per page of 256 extents; the bitmap marks the
// extents of that page that this backup wrote.
#include <bitset>
#include <cstdint>
#include <string>

struct FileExtentRecord {
    static constexpr size_t kIdentifierLength = 32;
    static constexpr std::uint64_t GetBitMapPageSize() { return 256; }

    std::string identifier;       // the file's stable identifier (32 characters)
    std::uint64_t pageId = 0;     // extent count / 256 when the record was made
    std::uint64_t jobId = 0;      // the job that wrote the record
    std::string path;             // the file's source path (any length)
    std::uint64_t extentCount = 0;
    std::uint64_t fileSize = 0;
    std::uint64_t extentSize = 0;
    std::bitset<256> extentBitmap;

    bool operator==(const FileExtentRecord&) const = default;
};
