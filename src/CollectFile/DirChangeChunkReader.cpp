#include "CollectFile/DirChangeChunkReader.h"

#include "Base/Prefault.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {
constexpr size_t kPrefaultBytes = size_t{64} << 10;
constexpr size_t kFirstFillBytes = size_t{4} << 10;
}  // namespace

CDirChangeChunkReader::CDirChangeChunkReader(int fd, const std::string& filePath, std::uint64_t limit, size_t windows,
                                             size_t windowBytes)
    : m_fd(fd), m_path(filePath), m_limit(windows == 0 ? 0 : limit), m_windowBytes(windowBytes), m_windows(windows)
{
}

namespace {
// Reads exactly `length` bytes at `offset` into `dest`.
CKxError ReadExact(int fd, const std::string& filePath, std::uint64_t offset, size_t length, char* dest)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, dest + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return CKxError::FromErrno(errno, KxFormat("Failed to read directory-change file '%s'", filePath.c_str()));
        }
        if (got == 0)
            return CKxError(KxCode::InvalidData,
                            KxFormat("Directory-change file '%s' is truncated or corrupt: it ends inside a chunk",
                                     filePath.c_str()));
        done += static_cast<size_t>(got);
    }
    return CKxError::Success();
}
}  // namespace

CKxError CDirChangeChunkReader::ReadAt(int fd, const std::string& filePath, std::uint64_t offset,
                                       std::uint64_t length, std::string& out)
{
    const size_t start = out.size();
    // A large read into memory this process has not touched yet (a closing index, a long
    // chunk): resident in one call rather than a fault a page.
    if (length >= kPrefaultBytes && out.capacity() < start + length) {
        out.reserve(start + length);
        Prefault::Range(out.data() + start, length);
    }
    out.resize(start + length);
    CKxError read = ReadExact(fd, filePath, offset, length, out.data() + start);
    if (read.IsError())
        out.resize(start);
    return read;
}

CKxError CDirChangeChunkReader::Read(std::uint64_t offset, std::uint64_t length, std::string& out)
{
    if (length > m_windowBytes || offset >= m_limit || length > m_limit - offset)
        return ReadAt(m_fd, m_path, offset, length, out);
    for (const SWindow& window : m_windows)
        if (window.size != 0 && offset >= window.offset && offset + length <= window.offset + window.size) {
            out.append(window.bytes.get() + (offset - window.offset), static_cast<size_t>(length));
            return CKxError::Success();
        }
    // A miss that continues a window's stretch of the file (it starts no further past the
    // window's start than twice its fill) refills that window with twice as much, up to a whole
    // window: reads that go through the file in order soon come in large pieces. A miss
    // elsewhere starts small: a journal job compares a few scattered folders, and a whole window
    // for each would read many times what it uses.
    SWindow* continued = nullptr;
    for (SWindow& candidate : m_windows)
        if (candidate.size != 0 && offset >= candidate.offset && offset - candidate.offset <= 2 * candidate.size) {
            continued = &candidate;
            break;
        }
    const size_t fill = std::min(continued ? 2 * continued->size : kFirstFillBytes, m_windowBytes);
    if (!continued) {
        continued = &m_windows[m_next];
        m_next = (m_next + 1) % m_windows.size();
    }
    SWindow& window = *continued;
    // A window's buffer is made once and refilled as is: no zero-filling before each read.
    if (!window.bytes) {
        window.bytes = std::make_unique_for_overwrite<char[]>(m_windowBytes);
        Prefault::Range(window.bytes.get(), m_windowBytes);
    }
    window.size = 0;
    const size_t size = static_cast<size_t>(std::min(std::max<std::uint64_t>(fill, length), m_limit - offset));
    KX_RETURN_IF_ERROR(ReadExact(m_fd, m_path, offset, size, window.bytes.get()));
    window.offset = offset;
    window.size = size;
    out.append(window.bytes.get(), static_cast<size_t>(length));
    return CKxError::Success();
}
