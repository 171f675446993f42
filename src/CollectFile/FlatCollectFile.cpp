#include "CollectFile/FlatCollectFile.h"

#include "CollectFile/FileNameEscaping.h"

#include <charconv>

CFlatCollectFile::CFlatCollectFile(long long jobId, std::string path, std::string sourceVolumePath)
    : CItemConsumer(jobId), m_path(std::move(path)), m_sourceVolumePath(std::move(sourceVolumePath))
{
}

CFlatCollectFile::~CFlatCollectFile()
{
    (void)m_file.Close();
}

CKxError CFlatCollectFile::Open(bool append)
{
    KX_RETURN_IF_FAILED(m_file.Open(m_path, append), "Failed to open collect file '%s'", m_path.c_str());
    if (!append) {
        setProcessedItemsCount(0);
        m_folders.store(0, std::memory_order_relaxed);
        m_dataSize.store(0, std::memory_order_relaxed);
    }
    return CKxError::Success();
}

CKxError CFlatCollectFile::Close()
{
    KX_RETURN_IF_FAILED(m_file.Close(), "Failed to close collect file '%s'", m_path.c_str());
    return CKxError::Success();
}

CKxError CFlatCollectFile::Flush()
{
    KX_RETURN_IF_FAILED(m_file.Flush(), "Failed to flush collect file '%s'", m_path.c_str());
    return CKxError::Success();
}

void CFlatCollectFile::FormatItemLine(std::string_view sourcePath, bool isFolder, std::uint64_t size, std::string& line)
{
    escapeFileNameAppend(sourcePath, line);
    if (isFolder) {
        if (line.empty() || line.back() != '/')
            line.push_back('/');
    } else {
        char digits[24];
        digits[0] = '|';
        auto [end, ec] = std::to_chars(digits + 1, digits + sizeof digits, size);
        (void)ec;
        line.append(digits, static_cast<size_t>(end - digits));
    }
    line.push_back('\n');
}

CKxError CFlatCollectFile::AppendLine(std::string_view line, bool isFolder, std::uint64_t size)
{
    KX_RETURN_IF_FAILED(m_file.Append(line), "Failed to write to '%s'", m_path.c_str());
    IncrementProcessedItemsCount();
    if (isFolder)
        m_folders.fetch_add(1, std::memory_order_relaxed);
    m_dataSize.fetch_add(size, std::memory_order_relaxed);
    return CKxError::Success();
}

CKxError CFlatCollectFile::Process(const CItemPtr& item)
{
    // One formatting buffer per thread: no allocation per item once it has grown.
    thread_local std::string line;
    line.clear();
    const bool isFolder = item->IsFolder();
    const std::uint64_t size = isFolder ? 0 : item->GetFileSize();
    FormatItemLine(item->GetSourceFullyQualifiedItemName(), isFolder, size, line);
    return AppendLine(line, isFolder, size);
}

CKxError CFlatCollectFile::RawWriteItem(std::string_view line, std::uint64_t size)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    const bool isFolder = !line.empty() && line.back() == '/';
    thread_local std::string buffer;
    buffer.assign(line);
    buffer.push_back('\n');
    return AppendLine(buffer, isFolder, size);
}

CKxError CFlatCollectFile::RawWriteLine(std::string_view line)
{
    CKxError result = m_file.WithLock([&](CBufferedFile::CLockedSink& sink) {
        KX_RETURN_IF_ERROR(sink.Append(line));
        if (line.empty() || line.back() != '\n')
            KX_RETURN_IF_ERROR(sink.Append("\n"));
        return CKxError::Success();
    });
    KX_RETURN_IF_FAILED(std::move(result), "Failed to write to '%s'", m_path.c_str());
    return CKxError::Success();
}

CKxError CFlatCollectFile::RawAppendFile(const std::string& path)
{
    KX_RETURN_IF_FAILED(m_file.AppendFile(path), "Failed to append '%s' to collect file '%s'", path.c_str(),
                        m_path.c_str());
    return CKxError::Success();
}
