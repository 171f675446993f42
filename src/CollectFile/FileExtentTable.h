#pragma once
// CFileExtentTable: the table of files that a backup splits into extents, one record per
// (identifier, bitmap page). Extent-qualified files are the very large ones, so the table is
// small: it is held in memory and written to "<folder>/<table name>.zvf" by CloseTable, under a
// temporary name and renamed, so a reader never sees half a table. Initialize loads an
// existing table of that name.
//
// File layout: one record per line, tab-separated: identifier, page, job id, extent count,
// file size, extent size, the 256-bit bitmap as 64 lower-case hex digits (extent 0 is the
// lowest bit of the last digit), and the path escaped as in collect files.
//
// Thread: every member may be called from any thread; one lock guards the table.
#include "Base/KxError.h"
#include "CollectFile/FileExtentRecord.h"

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class CFileExtentTable {
public:
    static std::string GetDefaultTableName() { return "FileExtentTable"; }

    [[nodiscard]] CKxError Initialize(const std::string& folder, const std::string& tableName);
    // Replaces the record with the same identifier and page, or adds it.
    [[nodiscard]] CKxError UpdateOrInsertRecord(const FileExtentRecord& record);
    // Every record of `path`, in page order (none is success with an empty list).
    [[nodiscard]] CKxError SearchRecords(const std::string& path, std::vector<FileExtentRecord>& records) const;
    // Writes a collect file listing each file of the table once, in path order:
    // "<escaped path>|<file size>".
    [[nodiscard]] CKxError GenerateCollectFile(const std::string& collectPath) const;
    // Writes the table out (when changed) and forgets it.
    [[nodiscard]] CKxError CloseTable();

    bool IsInitialized() const;
    std::string TablePath() const;
    size_t RecordCount() const;

    static std::string FormatRecord(const FileExtentRecord& record);
    [[nodiscard]] static CKxError ParseRecord(const std::string& line, FileExtentRecord& record);

private:
    using Key = std::pair<std::string, std::uint64_t>;  // identifier, page

    mutable std::mutex m_tableLock;  // guards everything below
    bool m_initialized = false;
    bool m_dirty = false;
    std::string m_path;
    std::map<Key, FileExtentRecord> m_records;
    std::unordered_multimap<std::string, Key> m_keysByPath;
};
