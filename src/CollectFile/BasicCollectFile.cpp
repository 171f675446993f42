#include "CollectFile/BasicCollectFile.h"

#include "Base/LogWriter.h"

#include <cerrno>
#include <chrono>

namespace {
std::uint64_t NowNanoseconds()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}
}  // namespace

CBasicCollectFile::~CBasicCollectFile()
{
    (void)m_file.Close();
}

CKxError CBasicCollectFile::OpenOutputFile(bool append)
{
    if (m_path.empty())
        return CKxError(KxCode::InvalidParameter, "Collect file has no output path");
    KX_RETURN_IF_FAILED(m_file.Open(m_path, append), "Failed to open collect file '%s'", m_path.c_str());
    return CKxError::Success();
}

CKxError CBasicCollectFile::AddEntry(const CCollectFileEntry& entry, const ICollectLineFormatter& formatter)
{
    if (entry.IsFolder() && !m_allowFolders) {
        m_entriesSkipped.fetch_add(1, std::memory_order_relaxed);
        return CKxError::Success();
    }
    if (m_pathMaximumLength != 0 && entry.GetPath().size() > m_pathMaximumLength) {
        m_entriesSkipped.fetch_add(1, std::memory_order_relaxed);
        return CKxError(ENAMETOOLONG, KxFormat("Path of %zu bytes is longer than %zu, not written to '%s': %s",
                                               entry.GetPath().size(), m_pathMaximumLength, m_path.c_str(),
                                               entry.GetPath().c_str()));
    }
    thread_local std::string line;
    const std::uint64_t start = NowNanoseconds();
    formatter.FormatLine(entry, line);
    line.push_back('\n');
    const std::uint64_t formatted = NowNanoseconds();
    KX_RETURN_IF_FAILED(m_file.Append(line), "Failed to add entry to collect file '%s'", m_path.c_str());
    m_writeNanoseconds.fetch_add(NowNanoseconds() - formatted, std::memory_order_relaxed);
    m_formatNanoseconds.fetch_add(formatted - start, std::memory_order_relaxed);
    if (entry.IsFolder()) {
        m_foldersWritten.fetch_add(1, std::memory_order_relaxed);
    } else {
        m_filesWritten.fetch_add(1, std::memory_order_relaxed);
        m_dataSize.fetch_add(entry.GetSize(), std::memory_order_relaxed);
    }
    return CKxError::Success();
}

CKxError CBasicCollectFile::RawWriteLine(std::string_view line)
{
    const std::uint64_t start = NowNanoseconds();
    CKxError result = m_file.WithLock([&](CBufferedFile::CLockedSink& sink) {
        KX_RETURN_IF_ERROR(sink.Append(line));
        if (line.empty() || line.back() != '\n')
            KX_RETURN_IF_ERROR(sink.Append("\n"));
        return CKxError::Success();
    });
    KX_RETURN_IF_FAILED(std::move(result), "Failed to write line to collect file '%s'", m_path.c_str());
    m_writeNanoseconds.fetch_add(NowNanoseconds() - start, std::memory_order_relaxed);
    m_rawLinesWritten.fetch_add(1, std::memory_order_relaxed);
    return CKxError::Success();
}

void CBasicCollectFile::LogTimeCounters() const
{
    FSLOG(3, "Collect file [%s]: %llu files, %llu folders, %llu raw lines, %llu skipped; formatting %.3f s, writing %.3f s",
          m_path.c_str(), static_cast<unsigned long long>(GetCountedFilesWritten()),
          static_cast<unsigned long long>(GetCountedFoldersWritten()),
          static_cast<unsigned long long>(m_rawLinesWritten.load()),
          static_cast<unsigned long long>(GetCountedEntriesSkipped()), m_formatNanoseconds.load() / 1e9,
          m_writeNanoseconds.load() / 1e9);
}

void CBasicCollectFile::DumpDiagnosticData() const
{
    FSLOG(0,
          "Collect file [%s] open=%d fullBackup=%d allowFolders=%d maxPath=%zu bytes=%llu files=%llu folders=%llu "
          "rawLines=%llu skipped=%llu dataSize=%llu",
          m_path.c_str(), m_file.IsOpen() ? 1 : 0, m_isFullBackup ? 1 : 0, m_allowFolders ? 1 : 0, m_pathMaximumLength,
          static_cast<unsigned long long>(m_file.Tell()), static_cast<unsigned long long>(GetCountedFilesWritten()),
          static_cast<unsigned long long>(GetCountedFoldersWritten()),
          static_cast<unsigned long long>(m_rawLinesWritten.load()),
          static_cast<unsigned long long>(GetCountedEntriesSkipped()), static_cast<unsigned long long>(GetDataSize()));
}

CKxError CBasicCollectFile::Close()
{
    KX_RETURN_IF_FAILED(m_file.Close(), "Failed to close collect file '%s'", m_path.c_str());
    return CKxError::Success();
}
