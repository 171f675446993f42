#include "CollectFile/DirChangeChunkReader.h"

#include "Base/Prefault.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {
constexpr size_t kPrefaultBytes = size_t{64} << 10;
}  // namespace

CDirChangeChunkReader::CDirChangeChunkReader(int fd, const std::string& filePath, std::uint64_t limit, size_t windows,
                                             size_t windowBytes)
    : m_fd(fd), m_path(filePath), m_limit(windows == 0 ? 0 : limit), m_windowBytes(windowBytes), m_windows(windows)
{
}

CKxError CDirChangeChunkReader::ReadAt(int fd, const std::string& filePath, std::uint64_t offset,
                                       std::uint64_t length, std::string& out)
{
    const size_t start = out.size();
    // A large read lands in memory this process has not touched yet (the closing index, a
    // comparison window): resident in one call rather than a fault a page.
    if (length >= kPrefaultBytes) {
        out.reserve(start + length);
        Prefault::Range(out.data() + start, length);
    }
    out.resize(start + length);
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, out.data() + start + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            out.resize(start);
            return CKxError::FromErrno(error, KxFormat("Failed to read directory-change file '%s'", filePath.c_str()));
        }
        if (got == 0) {
            out.resize(start);
            return CKxError(KxCode::InvalidData,
                            KxFormat("Directory-change file '%s' is truncated or corrupt: it ends inside a chunk",
                                     filePath.c_str()));
        }
        done += static_cast<size_t>(got);
    }
    return CKxError::Success();
}

CKxError CDirChangeChunkReader::Read(std::uint64_t offset, std::uint64_t length, std::string& out)
{
    if (length > m_windowBytes || offset >= m_limit || length > m_limit - offset)
        return ReadAt(m_fd, m_path, offset, length, out);
    for (const SWindow& window : m_windows)
        if (!window.bytes.empty() && offset >= window.offset && offset + length <= window.offset + window.bytes.size()) {
            out.append(window.bytes, static_cast<size_t>(offset - window.offset), static_cast<size_t>(length));
            return CKxError::Success();
        }
    SWindow& window = m_windows[m_next];
    m_next = (m_next + 1) % m_windows.size();
    window.bytes.clear();
    const std::uint64_t size = std::min<std::uint64_t>(m_windowBytes, m_limit - offset);
    KX_RETURN_IF_ERROR(ReadAt(m_fd, m_path, offset, size, window.bytes));
    window.offset = offset;
    out.append(window.bytes, 0, static_cast<size_t>(length));
    return CKxError::Success();
}
