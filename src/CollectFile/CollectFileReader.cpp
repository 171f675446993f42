#include "CollectFile/CollectFileReader.h"

#include "Base/FileNameEscaping.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

CCollectFileReader::~CCollectFileReader()
{
    Close();
}

void CCollectFileReader::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    std::free(m_buffer);
    m_buffer = nullptr;
    m_begin = m_end = 0;
}

CKxError CCollectFileReader::OpenCollectFile(const std::string& path)
{
    Close();
    m_path = path;
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open collect file '%s'", path.c_str()));
    m_buffer = static_cast<char*>(std::malloc(kBufferBytes));
    if (!m_buffer) {
        Close();
        return CKxError(KxCode::OutOfMemory, KxFormat("No memory to read collect file '%s'", path.c_str()));
    }
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_eofSeen = m_endOfFile = false;
    m_lineNumber = 0;
    m_rawLine.clear();
    m_line.clear();
    return CKxError::Success();
}

CKxError CCollectFileReader::Fill()
{
    if (m_begin > 0) {
        std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    while (m_end < kBufferBytes) {
        ssize_t n = ::read(m_fd, m_buffer + m_end, kBufferBytes - m_end);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return CKxError::FromErrno(errno, KxFormat("Failed to read collect file '%s'", m_path.c_str()));
        }
        if (n == 0) {
            m_eofSeen = true;
            break;
        }
        m_end += static_cast<size_t>(n);
        break;
    }
    return CKxError::Success();
}

CKxError CCollectFileReader::GetNextLine(std::string& line)
{
    line.clear();
    m_rawLine.clear();
    m_line.clear();
    m_size = 0;
    m_hasSize = false;
    m_startCharacter = '\0';
    if (m_fd < 0)
        return CKxError(6, KxFormat("Collect file '%s' is not open", m_path.c_str()));
    if (m_endOfFile)
        return CKxError::Success();
    // Collect a line; one longer than the buffer is gathered piece by piece.
    while (true) {
        const char* start = m_buffer + m_begin;
        const char* newline = static_cast<const char*>(std::memchr(start, '\n', m_end - m_begin));
        if (newline) {
            m_rawLine.append(start, static_cast<size_t>(newline - start));
            m_begin += static_cast<size_t>(newline - start) + 1;
            break;
        }
        if (m_eofSeen) {
            if (m_begin == m_end && m_rawLine.empty()) {
                m_endOfFile = true;
                return CKxError::Success();
            }
            m_rawLine.append(start, m_end - m_begin);  // a last line without its newline
            m_begin = m_end;
            break;
        }
        if (m_end - m_begin == kBufferBytes) {
            m_rawLine.append(start, m_end - m_begin);
            m_begin = m_end;
        }
        KX_RETURN_IF_ERROR(Fill());
    }
    ++m_lineNumber;

    std::string_view rest(m_rawLine);
    if (m_hasStartCharacters && !rest.empty()) {
        m_startCharacter = rest.front();
        rest.remove_prefix(1);
    }
    const size_t bar = rest.rfind('|');
    if (bar != std::string_view::npos) {
        std::string_view digits = rest.substr(bar + 1);
        if (!digits.empty() && digits.size() <= 20 && digits.find_first_not_of("0123456789") == std::string_view::npos) {
            std::uint64_t value = 0;
            bool overflow = false;
            for (char c : digits) {
                if (__builtin_mul_overflow(value, 10u, &value) ||
                    __builtin_add_overflow(value, static_cast<std::uint64_t>(c - '0'), &value)) {
                    overflow = true;
                    break;
                }
            }
            if (!overflow) {
                m_size = value;
                m_hasSize = true;
                rest = rest.substr(0, bar);
            }
        }
    }
    m_line.assign(rest);
    line = m_line;
    return CKxError::Success();
}

bool CCollectFileReader::IsSpecialLine() const
{
    return m_line.starts_with("??") || m_line.starts_with('%') || m_line.starts_with('#');
}

bool CCollectFileReader::IsDirectory() const
{
    if (m_line.starts_with("??D"))
        return true;
    return !m_line.empty() && m_line.back() == '/';
}

CKxError CCollectFileReader::GetCurrentPath(std::string& path) const
{
    if (IsSpecialLine())
        return CKxError(KxCode::InvalidData, KxFormat("Line %llu of '%s' is a special line, not an item",
                                                      static_cast<unsigned long long>(m_lineNumber), m_path.c_str()));
    std::string_view escaped(m_line);
    if (escaped.size() > 1 && escaped.back() == '/')
        escaped.remove_suffix(1);
    KX_RETURN_IF_FAILED(unescapeFileName(escaped, path), "Line %llu of '%s'",
                        static_cast<unsigned long long>(m_lineNumber), m_path.c_str());
    return CKxError::Success();
}
