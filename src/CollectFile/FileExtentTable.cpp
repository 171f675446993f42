#include "CollectFile/FileExtentTable.h"

#include "Base/FXFile.h"
#include "Base/LogWriter.h"
#include "CollectFile/BufferedFile.h"
#include "Base/FileNameEscaping.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace {
constexpr char kHex[] = "0123456789abcdef";

bool ParseUnsigned(const std::string& text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}
}  // namespace

std::string CFileExtentTable::FormatRecord(const FileExtentRecord& record)
{
    std::string bitmap(64, '0');
    for (size_t digit = 0; digit < 64; ++digit) {
        unsigned nibble = 0;
        for (unsigned bit = 0; bit < 4; ++bit)
            if (record.extentBitmap.test(digit * 4 + bit))
                nibble |= 1u << bit;
        bitmap[63 - digit] = kHex[nibble];
    }
    return KxFormat("%s\t%llu\t%llu\t%llu\t%llu\t%llu\t%s\t%s", escapeFileName(record.identifier).c_str(),
                    static_cast<unsigned long long>(record.pageId), static_cast<unsigned long long>(record.jobId),
                    static_cast<unsigned long long>(record.extentCount), static_cast<unsigned long long>(record.fileSize),
                    static_cast<unsigned long long>(record.extentSize), bitmap.c_str(),
                    escapeFileName(record.path).c_str());
}

CKxError CFileExtentTable::ParseRecord(const std::string& line, FileExtentRecord& record)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    if (fields.size() != 8)
        return CKxError(KxCode::InvalidData, KxFormat("Extent record has %zu fields, not 8", fields.size()));
    record = FileExtentRecord{};
    KX_RETURN_IF_FAILED(unescapeFileName(fields[0], record.identifier), "Bad identifier in extent record");
    std::uint64_t* numbers[] = {&record.pageId, &record.jobId, &record.extentCount, &record.fileSize, &record.extentSize};
    for (size_t i = 0; i < 5; ++i)
        if (!ParseUnsigned(fields[1 + i], *numbers[i]))
            return CKxError(KxCode::InvalidData, KxFormat("Bad number [%s] in extent record", fields[1 + i].c_str()));
    const std::string& bitmap = fields[6];
    if (bitmap.size() != 64 || bitmap.find_first_not_of(kHex) != std::string::npos)
        return CKxError(KxCode::InvalidData, "Bad extent bitmap in extent record");
    for (size_t digit = 0; digit < 64; ++digit) {
        const char c = bitmap[63 - digit];
        const unsigned nibble = c <= '9' ? unsigned(c - '0') : unsigned(c - 'a' + 10);
        for (unsigned bit = 0; bit < 4; ++bit)
            record.extentBitmap.set(digit * 4 + bit, (nibble >> bit) & 1u);
    }
    KX_RETURN_IF_FAILED(unescapeFileName(fields[7], record.path), "Bad path in extent record");
    return CKxError::Success();
}

CKxError CFileExtentTable::Initialize(const std::string& folder, const std::string& tableName)
{
    std::lock_guard lock(m_tableLock);
    if (folder.empty() || tableName.empty())
        return CKxError(KxCode::InvalidParameter, "File extent table needs a folder and a name");
    m_path = folder + "/" + tableName + ".zvf";
    m_records.clear();
    m_keysByPath.clear();
    m_dirty = false;
    if (FXFile::Exists(m_path)) {
        std::string content;
        KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(m_path, content), "Failed to load file extent table '%s'", m_path.c_str());
        std::istringstream lines(content);
        std::string line;
        size_t number = 0;
        while (std::getline(lines, line)) {
            ++number;
            if (line.empty())
                continue;
            FileExtentRecord record;
            KX_RETURN_IF_FAILED(ParseRecord(line, record), "Line %zu of '%s'", number, m_path.c_str());
            Key key{record.identifier, record.pageId};
            m_keysByPath.emplace(record.path, key);
            m_records[key] = std::move(record);
        }
    }
    m_initialized = true;
    FSLOG(3, "File extent table '%s' holds %zu records", m_path.c_str(), m_records.size());
    return CKxError::Success();
}

bool CFileExtentTable::IsInitialized() const
{
    std::lock_guard lock(m_tableLock);
    return m_initialized;
}

std::string CFileExtentTable::TablePath() const
{
    std::lock_guard lock(m_tableLock);
    return m_path;
}

size_t CFileExtentTable::RecordCount() const
{
    std::lock_guard lock(m_tableLock);
    return m_records.size();
}

CKxError CFileExtentTable::UpdateOrInsertRecord(const FileExtentRecord& record)
{
    std::lock_guard lock(m_tableLock);
    if (!m_initialized)
        return CKxError(6, "File extent table is not initialized");
    if (record.identifier.empty() || record.identifier.size() > FileExtentRecord::kIdentifierLength)
        return CKxError(KxCode::InvalidParameter,
                        KxFormat("Extent record identifier [%s] must have 1 to 32 characters", record.identifier.c_str()));
    Key key{record.identifier, record.pageId};
    auto it = m_records.find(key);
    if (it != m_records.end() && it->second.path != record.path) {
        // The identifier is the path's: a record moving to another path drops its old entry.
        auto range = m_keysByPath.equal_range(it->second.path);
        for (auto p = range.first; p != range.second; ++p)
            if (p->second == key) {
                m_keysByPath.erase(p);
                break;
            }
        it = m_records.end();
        m_records.erase(key);
    }
    if (it == m_records.end())
        m_keysByPath.emplace(record.path, key);
    m_records[key] = record;
    m_dirty = true;
    return CKxError::Success();
}

CKxError CFileExtentTable::SearchRecords(const std::string& path, std::vector<FileExtentRecord>& records) const
{
    records.clear();
    std::lock_guard lock(m_tableLock);
    if (!m_initialized)
        return CKxError(6, "File extent table is not initialized");
    auto range = m_keysByPath.equal_range(path);
    for (auto p = range.first; p != range.second; ++p)
        records.push_back(m_records.at(p->second));
    std::sort(records.begin(), records.end(), [](const FileExtentRecord& a, const FileExtentRecord& b) {
        return a.pageId != b.pageId ? a.pageId < b.pageId : a.identifier < b.identifier;
    });
    return CKxError::Success();
}

CKxError CFileExtentTable::GenerateCollectFile(const std::string& collectPath) const
{
    std::lock_guard lock(m_tableLock);
    if (!m_initialized)
        return CKxError(6, "File extent table is not initialized");
    std::map<std::string, std::uint64_t> files;  // path -> file size
    for (const auto& [key, record] : m_records)
        files[record.path] = std::max(files[record.path], record.fileSize);
    CBufferedFile out;
    KX_RETURN_IF_FAILED(out.Open(collectPath), "Failed to generate collect file from '%s'", m_path.c_str());
    std::string line;
    for (const auto& [path, size] : files) {
        line.clear();
        escapeFileNameAppend(path, line);
        line += '|';
        line += std::to_string(size);
        line += '\n';
        KX_RETURN_IF_FAILED(out.Append(line), "Failed to generate collect file from '%s'", m_path.c_str());
    }
    KX_RETURN_IF_FAILED(out.Close(), "Failed to generate collect file from '%s'", m_path.c_str());
    return CKxError::Success();
}

CKxError CFileExtentTable::CloseTable()
{
    std::lock_guard lock(m_tableLock);
    if (!m_initialized)
        return CKxError::Success();
    if (m_dirty) {
        std::string content;
        for (const auto& [key, record] : m_records) {
            content += FormatRecord(record);
            content += '\n';
        }
        KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(m_path, content), "Failed to save file extent table '%s'",
                            m_path.c_str());
    }
    m_records.clear();
    m_keysByPath.clear();
    m_dirty = false;
    m_initialized = false;
    return CKxError::Success();
}
