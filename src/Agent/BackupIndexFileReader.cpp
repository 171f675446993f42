#include "Agent/BackupIndexFileReader.h"

#include <cerrno>
#include <cstdlib>
#include <sys/types.h>
#include <utility>

CBackupIndexFileReader::~CBackupIndexFileReader() { std::free(m_buffer); }

CKxError CBackupIndexFileReader::Open(std::string path, SIndexJob* header)
{
    m_path = std::move(path);
    m_lineNumber = 0;
    m_hasLine = false;
    m_file.reset(std::fopen(m_path.c_str(), "re"));
    if (!m_file)
        return CKxError::FromErrno(errno, "Cannot open backup-index file [" + m_path + "]");
    // Large reads, few system calls: a merge holds one such buffer per file.
    std::setvbuf(m_file.get(), nullptr, _IOFBF, size_t{64} << 10);
    if (!header)
        return CKxError::Success();
    std::string_view text;
    bool got = false;
    KX_RETURN_IF_ERROR(ReadText(text, got));
    if (!got)
        return Fault(CKxError(KxCode::InvalidData, "Empty file, no header"));
    if (CKxError parsed = BackupIndexFormat::ParseHeader(text, *header); parsed.IsError())
        return Fault(std::move(parsed));
    return CKxError::Success();
}

CKxError CBackupIndexFileReader::Next(bool& got)
{
    std::string_view text;
    KX_RETURN_IF_ERROR(ReadText(text, got));
    if (!got)
        return CKxError::Success();
    std::swap(m_previous, m_line);
    if (CKxError parsed = BackupIndexFormat::ParseLine(text, m_line); parsed.IsError())
        return Fault(std::move(parsed));
    if (m_hasLine && BackupIndexFormat::Compare(m_previous, m_line) >= 0)
        return Fault(CKxError(KxCode::InvalidData, "Line out of path order or repeated"));
    m_hasLine = true;
    return CKxError::Success();
}

CKxError CBackupIndexFileReader::ReadText(std::string_view& text, bool& got)
{
    errno = 0;
    const ssize_t length = ::getline(&m_buffer, &m_capacity, m_file.get());
    if (length < 0) {
        if (std::ferror(m_file.get()))
            return Fault(CKxError::FromErrno(errno ? errno : EIO, "Read failed"));
        got = false;
        return CKxError::Success();
    }
    ++m_lineNumber;
    // The writer ends every line; a last line without its newline is a file cut short.
    if (m_buffer[length - 1] != '\n')
        return Fault(CKxError(KxCode::InvalidData, "The file ends in the middle of a line"));
    text = std::string_view(m_buffer, static_cast<size_t>(length - 1));
    got = true;
    return CKxError::Success();
}

CKxError CBackupIndexFileReader::Fault(CKxError error) const
{
    return std::move(error.Push(KxFormat("Line %llu of backup-index file [%s]",
                                         static_cast<unsigned long long>(m_lineNumber), m_path.c_str())));
}
