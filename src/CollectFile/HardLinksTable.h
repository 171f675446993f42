#pragma once
// HardLinksTable: a keyed store of the hard-linked files met during the scan, keyed on
// (device, inode), several records per key. Files, in the folder given to setDirectory:
//
//   <name>.dat  append-only records: header (device, inode, change time, offset of the previous
//               record of the same key, lengths), then the path and identifier bytes. It is the
//               truth: the index can always be rebuilt from it.
//   <name>.idx  an open-addressing hash table on disk (mapped), one 24-byte bucket per key:
//               device, inode, offset of the key's newest record. It doubles at 70% load.
//
// Memory stays bounded whatever the number of records: the process holds a 64 KiB append
// buffer and the search cursor; the index lives in the page cache through the mapping (its
// pages are file-backed and reclaimable, not heap). The index header carries a clean flag that
// close() sets; a table opened without it (a crash) or whose data file does not match is
// re-indexed from <name>.dat.
//
// Return values follow the table's calling convention: 0 success, non-zero failure for
// setDirectory, insert, close and removeTable; searchFirst/searchNext give 1 for a record, 0
// for none and -1 on failure. The last failure's text is kept for the log (LastError).
//
// Thread: every member may be called from any thread; one mutex serialises them. The search
// cursor is per table: searchNext continues the last searchFirst of any thread.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class HardLinksTable {
public:
    HardLinksTable() = default;
    ~HardLinksTable();
    HardLinksTable(const HardLinksTable&) = delete;
    HardLinksTable& operator=(const HardLinksTable&) = delete;

    // Opens (creating when missing, unless readOnly) the table `name` in `folder`. readOnly
    // opens existing files only and refuses insert.
    int setDirectory(const std::string& folder, bool readOnly, const std::string& name);
    int insert(std::uint64_t device, std::uint64_t inode, std::int64_t changeTime,
               const std::string& path, const std::string& identifier);
    // The key's records in insertion order: the first, then one per searchNext. `value` is the
    // record's change time.
    int searchFirst(std::uint64_t device, std::uint64_t inode, std::string& path,
                    std::int64_t& value, std::string& identifier);
    int searchNext(std::string& path, std::int64_t& value, std::string& identifier);
    // Writes everything out and marks the index clean. Closing a closed table is success.
    int close();
    // Closes and deletes both files.
    int removeTable();

    std::uint64_t RecordCount() const;
    std::uint64_t KeyCount() const;
    std::string DataFilePath() const;
    std::string IndexFilePath() const;
    std::string LastError() const;

private:
    struct Bucket;
    struct IndexHeader;

    int Fail(const std::string& message, int errnum = 0);     // logs, keeps the text, gives -1
    bool Refuse(const std::string& message, int errnum = 0);  // the same, for bool steps
    bool OpenLocked(bool readOnly);
    bool RebuildIndexLocked();
    bool MapIndexLocked(int fd, std::uint64_t buckets, bool create);
    bool GrowIndexLocked();
    Bucket* FindBucketLocked(std::uint64_t device, std::uint64_t inode, bool& found);
    bool AppendLocked(const std::string& bytes);
    bool FlushDataLocked();
    bool ReadAtLocked(std::uint64_t offset, void* out, size_t size);
    int ReadRecordLocked(std::uint64_t offset, std::string& path, std::int64_t& value,
                         std::string& identifier);
    int CloseLocked(bool markClean);
    void UnmapLocked();

    mutable std::mutex m_tableLock;  // guards everything below
    std::string m_folder;
    std::string m_name;
    bool m_readOnly = false;
    bool m_open = false;
    std::string m_lastError;

    int m_dataFd = -1;
    std::uint64_t m_dataFlushed = 0;  // bytes of <name>.dat on disk
    std::string m_dataBuffer;         // appended records not yet on disk

    int m_indexFd = -1;  // -1 with a mapping: a private index rebuilt for a read-only table
    void* m_indexMap = nullptr;
    size_t m_indexMapBytes = 0;
    std::uint64_t m_bucketCount = 0;
    std::uint64_t m_keyCount = 0;
    std::uint64_t m_recordCount = 0;

    std::vector<std::uint64_t> m_cursor;  // record offsets of the last searchFirst, in order
    size_t m_cursorNext = 0;
};
