#include "CollectFile/HardLinksTable.h"
#include "Base/FileSystemIdentity.h"

#include "Base/KxError.h"
#include "Base/LogWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char kDataMagic[8] = {'F', 'S', 'H', 'L', 'D', 'A', 'T', '1'};
constexpr char kIndexMagic[8] = {'F', 'S', 'H', 'L', 'I', 'D', 'X', '1'};
constexpr std::uint64_t kDataHeaderBytes = 16;
constexpr std::uint32_t kRecordMagic = 0x31524C48;  // "HLR1"
constexpr std::uint64_t kMinBuckets = 1024;
constexpr size_t kDataBufferBytes = 64 * 1024;

// On-disk record header; fixed-width fields, host byte order (the table never leaves the host).
struct RecordHeader {
    std::uint32_t magic;
    std::uint32_t pathLength;
    std::uint32_t identifierLength;
    std::uint32_t reserved;
    std::uint64_t device;
    std::uint64_t inode;
    std::int64_t changeTime;
    std::uint64_t previous;  // offset of the key's previous record, 0 for none
};
static_assert(sizeof(RecordHeader) == 48);

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Repeats a positional read or write until `size` bytes moved; a short transfer of 0 bytes
// counts as EIO so that callers always find errno set.
template <typename Buffer, typename Call>
bool TransferAll(Buffer* data, size_t size, std::uint64_t offset, Call call)
{
    auto* p = reinterpret_cast<std::conditional_t<std::is_const_v<Buffer>, const char, char>*>(data);
    while (size > 0) {
        ssize_t n = call(p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool PReadAll(int fd, void* out, size_t size, std::uint64_t offset)
{
    return TransferAll(out, size, offset, [fd](char* p, size_t n, off_t at) { return ::pread(fd, p, n, at); });
}

bool PWriteAll(int fd, const void* data, size_t size, std::uint64_t offset)
{
    return TransferAll(data, size, offset,
                       [fd](const char* p, size_t n, off_t at) { return ::pwrite(fd, p, n, at); });
}
}  // namespace

struct HardLinksTable::Bucket {
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t head;  // offset of the key's newest record; 0 marks an empty bucket
};


struct HardLinksTable::IndexHeader {
    char magic[8];
    std::uint64_t bucketCount;
    std::uint64_t keyCount;
    std::uint64_t recordCount;
    std::uint64_t dataLength;  // length of <name>.dat this index describes
    std::uint64_t clean;       // 1 after close(); 0 while the table is open for writing
    std::uint64_t reserved[2];
};


HardLinksTable::~HardLinksTable()
{
    static_assert(sizeof(Bucket) == 24 && sizeof(IndexHeader) == 64, "on-disk layouts");
    close();
}

std::string HardLinksTable::DataFilePath() const { return m_folder + "/" + m_name + ".dat"; }
std::string HardLinksTable::IndexFilePath() const { return m_folder + "/" + m_name + ".idx"; }

std::string HardLinksTable::LastError() const
{
    std::lock_guard lock(m_tableLock);
    return m_lastError;
}

std::uint64_t HardLinksTable::RecordCount() const
{
    std::lock_guard lock(m_tableLock);
    return m_recordCount;
}

std::uint64_t HardLinksTable::KeyCount() const
{
    std::lock_guard lock(m_tableLock);
    return m_keyCount;
}

int HardLinksTable::Fail(const std::string& message, int errnum)
{
    m_lastError = errnum ? CKxError::FromErrno(errnum, message).Message() : message;
    FSLOG_ERROR("%s", m_lastError.c_str());
    return -1;
}

bool HardLinksTable::Refuse(const std::string& message, int errnum)
{
    Fail(message, errnum);
    return false;
}

int HardLinksTable::setDirectory(const std::string& folder, bool readOnly, const std::string& name)
{
    std::lock_guard lock(m_tableLock);
    if (m_open)
        CloseLocked(true);
    if (folder.empty() || name.empty())
        return Fail("Hard-link table needs a folder and a name");
    m_folder = folder;
    m_name = name;
    if (!OpenLocked(readOnly)) {
        CloseLocked(false);
        return -1;
    }
    return 0;
}

bool HardLinksTable::OpenLocked(bool readOnly)
{
    CFileSystemIdentity::COwnCredentials own;  // the table's files are the process's, never the walk user's
    m_readOnly = readOnly;
    const std::string dataPath = DataFilePath();
    m_dataFd = ::open(dataPath.c_str(), (readOnly ? O_RDONLY : O_RDWR | O_CREAT) | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_dataFd < 0)
        return Refuse("Failed to open '" + dataPath + "'", errno);
    struct stat st;
    if (::fstat(m_dataFd, &st) != 0)
        return Refuse("Failed to stat '" + dataPath + "'", errno);
    if (st.st_size == 0 && !readOnly) {
        char header[kDataHeaderBytes] = {};
        std::memcpy(header, kDataMagic, sizeof kDataMagic);
        if (!PWriteAll(m_dataFd, header, sizeof header, 0))
            return Refuse("Failed to write '" + dataPath + "'", errno);
        m_dataFlushed = kDataHeaderBytes;
    } else {
        char header[kDataHeaderBytes];
        if (static_cast<std::uint64_t>(st.st_size) < kDataHeaderBytes || !PReadAll(m_dataFd, header, sizeof header, 0) ||
            std::memcmp(header, kDataMagic, sizeof kDataMagic) != 0)
            return Refuse("'" + dataPath + "' is not a hard-link table");
        m_dataFlushed = static_cast<std::uint64_t>(st.st_size);
    }
    m_dataBuffer.clear();
    m_open = true;

    // Reuse the index when close() left it consistent with the data file; else rebuild it.
    const std::string indexPath = IndexFilePath();
    m_indexFd = ::open(indexPath.c_str(), (readOnly ? O_RDONLY : O_RDWR | O_CREAT) | O_CLOEXEC | O_NOFOLLOW, 0600);
    IndexHeader header{};
    bool usable = false;
    if (m_indexFd >= 0 && ::fstat(m_indexFd, &st) == 0 && static_cast<size_t>(st.st_size) >= sizeof header &&
        PReadAll(m_indexFd, &header, sizeof header, 0)) {
        const std::uint64_t n = header.bucketCount;
        usable = std::memcmp(header.magic, kIndexMagic, sizeof kIndexMagic) == 0 && header.clean == 1 &&
                 header.dataLength == m_dataFlushed && n >= kMinBuckets && (n & (n - 1)) == 0 &&
                 static_cast<std::uint64_t>(st.st_size) == sizeof header + n * sizeof(Bucket);
    }
    if (!usable) {
        FSLOG(3, "Rebuilding hard-link index '%s' from '%s'", indexPath.c_str(), dataPath.c_str());
        if (readOnly && m_indexFd >= 0) {
            ::close(m_indexFd);
            m_indexFd = -1;  // a read-only table gets a private index in memory
        }
        if (!readOnly && m_indexFd < 0)
            return Refuse("Failed to open '" + indexPath + "'", errno);
        return RebuildIndexLocked();
    }
    if (!MapIndexLocked(readOnly ? -2 : m_indexFd, header.bucketCount, false))
        return false;
    m_keyCount = header.keyCount;
    m_recordCount = header.recordCount;
    if (!readOnly)
        static_cast<IndexHeader*>(m_indexMap)->clean = 0;  // a crash from here on forces a rebuild
    return true;
}

// fd >= 0: map that file shared (sized first when `create`); -2: map m_indexFd read-only;
// -1: a private anonymous index.
bool HardLinksTable::MapIndexLocked(int fd, std::uint64_t buckets, bool create)
{
    const size_t bytes = sizeof(IndexHeader) + buckets * sizeof(Bucket);
    void* map;
    if (fd == -1) {
        map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    } else {
        const int mapFd = fd == -2 ? m_indexFd : fd;
        if (create && ::ftruncate(mapFd, static_cast<off_t>(bytes)) != 0)
            return Refuse("Failed to size '" + IndexFilePath() + "'", errno);
        map = ::mmap(nullptr, bytes, fd == -2 ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, mapFd, 0);
    }
    if (map == MAP_FAILED)
        return Refuse("Failed to map '" + IndexFilePath() + "'", errno);
    m_indexMap = map;
    m_indexMapBytes = bytes;
    m_bucketCount = buckets;
    if (create) {
        auto* header = static_cast<IndexHeader*>(map);
        std::memcpy(header->magic, kIndexMagic, sizeof kIndexMagic);
        header->bucketCount = buckets;
    }
    return true;
}

void HardLinksTable::UnmapLocked()
{
    if (m_indexMap)
        ::munmap(m_indexMap, m_indexMapBytes);
    m_indexMap = nullptr;
    m_indexMapBytes = 0;
}

bool HardLinksTable::RebuildIndexLocked()
{
    if (m_indexFd >= 0 && ::ftruncate(m_indexFd, 0) != 0)
        return Refuse("Failed to truncate '" + IndexFilePath() + "'", errno);
    if (!MapIndexLocked(m_indexFd, kMinBuckets, true))
        return false;
    m_keyCount = 0;
    m_recordCount = 0;
    std::uint64_t offset = kDataHeaderBytes;
    const std::uint64_t end = m_dataFlushed;
    while (offset + sizeof(RecordHeader) <= end) {
        RecordHeader record;
        if (!PReadAll(m_dataFd, &record, sizeof record, offset))
            return Refuse("Failed to read '" + DataFilePath() + "'", errno);
        const std::uint64_t next = offset + sizeof record + record.pathLength + record.identifierLength;
        if (record.magic != kRecordMagic || next > end || record.previous >= offset)
            break;
        if ((m_keyCount + 1) * 10 > m_bucketCount * 7 && !GrowIndexLocked())
            return false;
        bool found = false;
        Bucket* bucket = FindBucketLocked(record.device, record.inode, found);
        if (!found) {
            bucket->device = record.device;
            bucket->inode = record.inode;
            ++m_keyCount;
        }
        bucket->head = offset;
        ++m_recordCount;
        offset = next;
    }
    if (offset != end) {
        // A torn tail from an interrupted writer: the records before it are whole and stay.
        FSLOG(0, "Hard-link table '%s' ends in an incomplete record at %llu; %llu records kept",
              DataFilePath().c_str(), static_cast<unsigned long long>(offset),
              static_cast<unsigned long long>(m_recordCount));
        if (!m_readOnly && ::ftruncate(m_dataFd, static_cast<off_t>(offset)) != 0)
            return Refuse("Failed to truncate '" + DataFilePath() + "'", errno);
        m_dataFlushed = offset;
    }
    return true;
}

bool HardLinksTable::GrowIndexLocked()
{
    CFileSystemIdentity::COwnCredentials own;
    const std::uint64_t oldCount = m_bucketCount;
    void* oldMap = m_indexMap;
    const size_t oldBytes = m_indexMapBytes;
    const std::uint64_t newCount = oldCount * 2;
    int newFd = -1;
    std::string growPath;
    if (m_indexFd >= 0) {
        // Build the larger table beside the old one and rename it into place: the old index
        // stays whole until the new one is complete.
        growPath = IndexFilePath() + ".grow";
        newFd = ::open(growPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (newFd < 0)
            return Refuse("Failed to create '" + growPath + "'", errno);
    }
    m_indexMap = nullptr;
    if (!MapIndexLocked(newFd, newCount, true)) {
        m_indexMap = oldMap;
        m_indexMapBytes = oldBytes;
        m_bucketCount = oldCount;
        if (newFd >= 0) {
            ::close(newFd);
            ::unlink(growPath.c_str());
        }
        return false;
    }
    const auto* oldBuckets = reinterpret_cast<const Bucket*>(static_cast<const char*>(oldMap) + sizeof(IndexHeader));
    for (std::uint64_t i = 0; i < oldCount; ++i) {
        if (oldBuckets[i].head == 0)
            continue;
        bool found = false;
        Bucket* bucket = FindBucketLocked(oldBuckets[i].device, oldBuckets[i].inode, found);
        *bucket = oldBuckets[i];
    }
    ::munmap(oldMap, oldBytes);
    if (newFd >= 0) {
        if (::rename(growPath.c_str(), IndexFilePath().c_str()) != 0)
            return Refuse("Failed to rename '" + growPath + "'", errno);
        ::close(m_indexFd);
        m_indexFd = newFd;
    }
    return true;
}

HardLinksTable::Bucket* HardLinksTable::FindBucketLocked(std::uint64_t device, std::uint64_t inode, bool& found)
{
    auto* buckets = reinterpret_cast<Bucket*>(static_cast<char*>(m_indexMap) + sizeof(IndexHeader));
    const std::uint64_t mask = m_bucketCount - 1;
    std::uint64_t i = Mix(device * 0x100000001B3ull ^ Mix(inode)) & mask;
    while (true) {
        Bucket& bucket = buckets[i];
        if (bucket.head == 0) {
            found = false;
            return &bucket;
        }
        if (bucket.device == device && bucket.inode == inode) {
            found = true;
            return &bucket;
        }
        i = (i + 1) & mask;
    }
}

bool HardLinksTable::FlushDataLocked()
{
    if (m_dataBuffer.empty())
        return true;
    if (!PWriteAll(m_dataFd, m_dataBuffer.data(), m_dataBuffer.size(), m_dataFlushed)) {
        // The index already points at records in the lost buffer: nothing more can be trusted.
        const int err = errno;
        m_open = false;
        return Refuse("Failed to write '" + DataFilePath() + "'", err);
    }
    m_dataFlushed += m_dataBuffer.size();
    m_dataBuffer.clear();
    return true;
}

int HardLinksTable::insert(std::uint64_t device, std::uint64_t inode, std::int64_t changeTime,
                           const std::string& path, const std::string& identifier)
{
    std::lock_guard lock(m_tableLock);
    if (!m_open)
        return Fail("Hard-link table '" + DataFilePath() + "' is not open");
    if (m_readOnly)
        return Fail("Hard-link table '" + DataFilePath() + "' is open read-only");
    if (path.size() > UINT32_MAX || identifier.size() > UINT32_MAX)
        return Fail("Hard-link table record too long");
    if ((m_keyCount + 1) * 10 > m_bucketCount * 7 && !GrowIndexLocked())
        return -1;
    bool found = false;
    Bucket* bucket = FindBucketLocked(device, inode, found);
    RecordHeader record{kRecordMagic, static_cast<std::uint32_t>(path.size()),
                        static_cast<std::uint32_t>(identifier.size()), 0, device, inode, changeTime,
                        found ? bucket->head : 0};
    const std::uint64_t offset = m_dataFlushed + m_dataBuffer.size();
    m_dataBuffer.append(reinterpret_cast<const char*>(&record), sizeof record);
    m_dataBuffer.append(path);
    m_dataBuffer.append(identifier);
    if (!found) {
        bucket->device = device;
        bucket->inode = inode;
        ++m_keyCount;
    }
    bucket->head = offset;
    ++m_recordCount;
    if (m_dataBuffer.size() >= kDataBufferBytes && !FlushDataLocked())
        return -1;
    return 0;
}

bool HardLinksTable::ReadAtLocked(std::uint64_t offset, void* out, size_t size)
{
    // Whole records are either on disk or in the buffer: a flush writes the buffer whole.
    if (offset >= m_dataFlushed) {
        const std::uint64_t at = offset - m_dataFlushed;
        if (at + size > m_dataBuffer.size()) {
            errno = EIO;
            return false;
        }
        std::memcpy(out, m_dataBuffer.data() + at, size);
        return true;
    }
    return PReadAll(m_dataFd, out, size, offset);
}

int HardLinksTable::ReadRecordLocked(std::uint64_t offset, std::string& path, std::int64_t& value,
                                     std::string& identifier)
{
    RecordHeader record;
    if (!ReadAtLocked(offset, &record, sizeof record) || record.magic != kRecordMagic)
        return Fail("Bad record in '" + DataFilePath() + "' at " + std::to_string(offset));
    path.resize(record.pathLength);
    identifier.resize(record.identifierLength);
    if (!ReadAtLocked(offset + sizeof record, path.data(), path.size()) ||
        !ReadAtLocked(offset + sizeof record + path.size(), identifier.data(), identifier.size()))
        return Fail("Failed to read '" + DataFilePath() + "'", errno);
    value = record.changeTime;
    return 1;
}

int HardLinksTable::searchFirst(std::uint64_t device, std::uint64_t inode, std::string& path,
                                std::int64_t& value, std::string& identifier)
{
    std::lock_guard lock(m_tableLock);
    m_cursor.clear();
    m_cursorNext = 0;
    if (!m_open)
        return Fail("Hard-link table '" + DataFilePath() + "' is not open");
    bool found = false;
    Bucket* bucket = FindBucketLocked(device, inode, found);
    if (!found)
        return 0;
    // Records chain from the newest backwards; the cursor gives them oldest first.
    for (std::uint64_t offset = bucket->head; offset != 0;) {
        m_cursor.push_back(offset);
        RecordHeader record;
        if (!ReadAtLocked(offset, &record, sizeof record) || record.magic != kRecordMagic || record.previous >= offset) {
            m_cursor.clear();
            return Fail("Bad record chain in '" + DataFilePath() + "' at " + std::to_string(offset));
        }
        offset = record.previous;
    }
    std::reverse(m_cursor.begin(), m_cursor.end());
    return ReadRecordLocked(m_cursor[m_cursorNext++], path, value, identifier);
}

int HardLinksTable::searchNext(std::string& path, std::int64_t& value, std::string& identifier)
{
    std::lock_guard lock(m_tableLock);
    if (!m_open)
        return Fail("Hard-link table '" + DataFilePath() + "' is not open");
    if (m_cursorNext >= m_cursor.size())
        return 0;
    return ReadRecordLocked(m_cursor[m_cursorNext++], path, value, identifier);
}

int HardLinksTable::CloseLocked(bool markClean)
{
    int result = 0;
    if (m_open && !m_readOnly) {
        if (!FlushDataLocked())
            result = -1;
        if (m_indexMap && m_indexFd >= 0) {
            auto* header = static_cast<IndexHeader*>(m_indexMap);
            header->keyCount = m_keyCount;
            header->recordCount = m_recordCount;
            header->dataLength = m_dataFlushed;
            header->clean = markClean && result == 0 ? 1 : 0;
        }
    }
    UnmapLocked();
    if (m_indexFd >= 0)
        ::close(m_indexFd);
    if (m_dataFd >= 0)
        ::close(m_dataFd);
    m_indexFd = m_dataFd = -1;
    m_open = false;
    m_dataBuffer.clear();
    m_dataBuffer.shrink_to_fit();
    m_cursor.clear();
    m_cursorNext = 0;
    return result;
}

int HardLinksTable::close()
{
    std::lock_guard lock(m_tableLock);
    return CloseLocked(true);
}

int HardLinksTable::removeTable()
{
    std::lock_guard lock(m_tableLock);
    CloseLocked(false);
    if (m_folder.empty())
        return 0;
    CFileSystemIdentity::COwnCredentials own;
    int result = 0;
    for (const std::string& path : {DataFilePath(), IndexFilePath()})
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            result = Fail("Failed to remove '" + path + "'", errno);
    return result;
}
