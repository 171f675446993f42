#include "CollectFile/ZvFIFO.h"
#include "Base/FileSystemIdentity.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
std::atomic<unsigned> g_fifoCounter{0};

void EncodeLength(std::uint32_t length, char out[4])
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
}

std::uint32_t DecodeLength(const char in[4])
{
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    return length;
}
}  // namespace

ZvFIFO::~ZvFIFO()
{
    std::lock_guard lock(m_queueLock);
    RemoveFilesLocked();
}

std::string ZvFIFO::SegmentPath(std::uint64_t segment) const
{
    return m_folder + "/" + m_name + "." + std::to_string(segment) + ".zvq";
}

std::uint64_t ZvFIFO::SegmentCount() const
{
    std::lock_guard lock(m_queueLock);
    return m_open ? m_writeSegment - m_readSegment + 1 : 0;
}

void ZvFIFO::RemoveFilesLocked()
{
    CFileSystemIdentity::COwnCredentials own;  // the queue's files are the process's, never the walk user's
    if (m_writeFd >= 0)
        ::close(m_writeFd);
    if (m_readFd >= 0)
        ::close(m_readFd);
    m_writeFd = m_readFd = -1;
    if (m_open)
        for (std::uint64_t s = m_readSegment; s <= m_writeSegment; ++s)
            ::unlink(SegmentPath(s).c_str());
    m_open = false;
}

CKxError ZvFIFO::Open(const std::string& folder, const std::string& name)
{
    std::lock_guard lock(m_queueLock);
    if (m_open)
        return CKxError(KxCode::InvalidParameter, KxFormat("Queue '%s' is already open", SegmentPath(m_writeSegment).c_str()));
    m_folder = folder;
    m_name = name.empty() ? KxFormat("fifo.%d.%u", static_cast<int>(::getpid()), g_fifoCounter.fetch_add(1)) : name;
    m_writeSegment = m_readSegment = 0;
    const std::string path = SegmentPath(0);
    CFileSystemIdentity::COwnCredentials own;
    m_writeFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_writeFd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to create queue file '%s'", path.c_str()));
    m_open = true;
    m_failure = CKxError::Success();
    m_count = 0;
    m_writeFlushed = 0;
    m_writeBuffer.clear();
    m_writeBufferConsumed = 0;
    m_readOffset = 0;
    m_readBuffer.clear();
    m_readBufferPos = 0;
    KX_RETURN_IF_FAILED(OpenReadSegmentLocked(), "Failed to open queue '%s'", m_name.c_str());
    return CKxError::Success();
}

CKxError ZvFIFO::OpenReadSegmentLocked()
{
    const std::string path = SegmentPath(m_readSegment);
    m_readFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_readFd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open queue file '%s' for reading", path.c_str()));
    m_readOffset = 0;
    m_readBuffer.clear();
    m_readBufferPos = 0;
    return CKxError::Success();
}

CKxError ZvFIFO::FlushLocked()
{
    const char* data = m_writeBuffer.data() + m_writeBufferConsumed;
    size_t size = m_writeBuffer.size() - m_writeBufferConsumed;
    while (size > 0) {
        ssize_t n = ::write(m_writeFd, data, size);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            // A record may now be torn on disk, so the queue cannot be trusted any more.
            m_failure = CKxError::FromErrno(n < 0 ? errno : EIO, KxFormat("Failed to write queue file '%s'", SegmentPath(m_writeSegment).c_str()));
            return m_failure;
        }
        data += n;
        size -= static_cast<size_t>(n);
        m_writeFlushed += static_cast<std::uint64_t>(n);
    }
    m_writeBuffer.clear();
    m_writeBufferConsumed = 0;
    if (m_writeFlushed >= m_segmentBytes) {
        // Start a new segment so that the reader can delete this one once it is through it.
        const std::string path = SegmentPath(m_writeSegment + 1);
        CFileSystemIdentity::COwnCredentials own;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            m_failure = CKxError::FromErrno(errno, KxFormat("Failed to create queue file '%s'", path.c_str()));
            return m_failure;
        }
        ::close(m_writeFd);
        m_writeFd = fd;
        ++m_writeSegment;
        m_writeFlushed = 0;
    }
    return CKxError::Success();
}

CKxError ZvFIFO::push(std::string_view value)
{
    if (value.size() > UINT32_MAX)
        return CKxError(KxCode::InvalidParameter, "Queue entries are limited to 4 GiB");
    std::lock_guard lock(m_queueLock);
    if (!m_open)
        return CKxError(6, "Queue is not open");
    if (m_failure.IsError())
        return m_failure;
    char header[4];
    EncodeLength(static_cast<std::uint32_t>(value.size()), header);
    m_writeBuffer.append(header, 4);
    m_writeBuffer.append(value);
    ++m_count;
    if (m_writeBuffer.size() - m_writeBufferConsumed >= kBufferBytes)
        KX_RETURN_IF_FAILED(FlushLocked(), "Failed to push into queue '%s'", m_name.c_str());
    return CKxError::Success();
}

CKxError ZvFIFO::ReadLocked(char* out, size_t size)
{
    while (size > 0) {
        if (m_readBufferPos == m_readBuffer.size()) {
            m_readBuffer.resize(kBufferBytes);
            m_readBufferPos = 0;
            ssize_t n;
            do {
                n = ::read(m_readFd, m_readBuffer.data(), kBufferBytes);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) {
                m_readBuffer.clear();
                if (n < 0)
                    return CKxError::FromErrno(errno, KxFormat("Failed to read queue file '%s'", SegmentPath(m_readSegment).c_str()));
                return CKxError(KxCode::InvalidData, KxFormat("Queue file '%s' ends inside a record", SegmentPath(m_readSegment).c_str()));
            }
            m_readBuffer.resize(static_cast<size_t>(n));
            m_readOffset += static_cast<std::uint64_t>(n);
        }
        size_t take = std::min(size, m_readBuffer.size() - m_readBufferPos);
        std::memcpy(out, m_readBuffer.data() + m_readBufferPos, take);
        m_readBufferPos += take;
        out += take;
        size -= take;
    }
    return CKxError::Success();
}

CKxError ZvFIFO::PopFromBufferLocked(std::string& value)
{
    const char* record = m_writeBuffer.data() + m_writeBufferConsumed;
    std::uint32_t length = DecodeLength(record);
    value.assign(record + 4, length);
    m_writeBufferConsumed += 4 + length;
    if (m_writeBufferConsumed == m_writeBuffer.size()) {
        m_writeBuffer.clear();
        m_writeBufferConsumed = 0;
    }
    return CKxError::Success();
}

CKxError ZvFIFO::pop(std::string& value, bool& popped)
{
    value.clear();
    popped = false;
    std::lock_guard lock(m_queueLock);
    if (!m_open)
        return CKxError(6, "Queue is not open");
    if (m_failure.IsError())
        return m_failure;
    if (m_count == 0)
        return CKxError::Success();
    while (true) {
        const std::uint64_t consumed = m_readOffset - (m_readBuffer.size() - m_readBufferPos);
        if (m_readSegment == m_writeSegment) {
            if (consumed == m_writeFlushed) {
                // The reader has caught up with the disk: the next record is in the write buffer.
                KX_RETURN_IF_ERROR(PopFromBufferLocked(value));
                break;
            }
        } else if (m_readBufferPos == m_readBuffer.size()) {
            // A finished segment: probe for its end, then drop it.
            char probe;
            ssize_t n;
            do {
                n = ::pread(m_readFd, &probe, 1, static_cast<off_t>(m_readOffset));
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                return CKxError::FromErrno(errno, KxFormat("Failed to read queue file '%s'", SegmentPath(m_readSegment).c_str()));
            if (n == 0) {
                CFileSystemIdentity::COwnCredentials own;
                ::close(m_readFd);
                m_readFd = -1;
                ::unlink(SegmentPath(m_readSegment).c_str());
                ++m_readSegment;
                KX_RETURN_IF_ERROR(OpenReadSegmentLocked());
                continue;
            }
        }
        char header[4];
        KX_RETURN_IF_ERROR(ReadLocked(header, 4));
        const std::uint32_t length = DecodeLength(header);
        value.resize(length);
        KX_RETURN_IF_ERROR(ReadLocked(value.data(), length));
        break;
    }
    --m_count;
    popped = true;
    return CKxError::Success();
}

std::uint64_t ZvFIFO::size() const
{
    std::lock_guard lock(m_queueLock);
    return m_count;
}

bool ZvFIFO::empty() const
{
    return size() == 0;
}
