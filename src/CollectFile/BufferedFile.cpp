#include "CollectFile/BufferedFile.h"
#include "Base/FileSystemIdentity.h"

#include "Base/HotPath.h"
#include "Base/WriteBackStarter.h"
#include "Base/Prefault.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CBufferedFile::CBufferedFile(size_t bufferSize)
    : m_capacity(bufferSize < 4096 ? 4096 : bufferSize), m_write(&::write)
{
}

CBufferedFile::~CBufferedFile()
{
    (void)Close();
}

CKxError CBufferedFile::Open(const std::string& path, bool append)
{
    std::lock_guard lock(m_bufferLock);
    if (m_fd >= 0)
        return CKxError(KxCode::InvalidParameter, KxFormat("File '%s' is already open as '%s'", path.c_str(), m_path.c_str()));
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC);
    CFileSystemIdentity::COwnCredentials own;  // the job's files are the process's, never the walk user's
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open '%s' for writing", path.c_str()));
    std::uint64_t size = 0;
    if (append) {
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            int err = errno;
            ::close(fd);
            return CKxError::FromErrno(err, KxFormat("Failed to stat '%s'", path.c_str()));
        }
        size = static_cast<std::uint64_t>(st.st_size);
    }
    if (!m_buffer) {
        m_buffer = static_cast<char*>(std::malloc(m_capacity));
        if (!m_buffer) {
            ::close(fd);
            return CKxError(KxCode::OutOfMemory, KxFormat("No memory for the buffer of '%s'", path.c_str()));
        }
        Prefault::Range(m_buffer, m_capacity);
    }
    m_fd = fd;
    m_path = path;
    m_used = 0;
    m_tell = size;
    m_handedOver = size;
    if (m_startWriteBack)
        m_writeBack = std::make_unique<CWriteBackStarter>(fd);
    m_failure = CKxError::Success();
    return CKxError::Success();
}

bool CBufferedFile::IsOpen() const
{
    std::lock_guard lock(m_bufferLock);
    return m_fd >= 0;
}

std::uint64_t CBufferedFile::Tell() const
{
    std::lock_guard lock(m_bufferLock);
    return m_tell;
}

CKxError CBufferedFile::Failed(int errnum, const char* what)
{
    m_failure = CKxError::FromErrno(errnum, KxFormat("Failed to %s '%s'", what, m_path.c_str()));
    return m_failure;
}

CKxError CBufferedFile::WriteAllLocked(const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = m_write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Failed(errno, "write to");
        }
        if (n == 0)
            return Failed(EIO, "write to");  // no progress: treat as an I/O error, never spin
        data += n;
        size -= static_cast<size_t>(n);
        m_handedOver += static_cast<std::uint64_t>(n);
    }
    if (m_writeBack)
        m_writeBack->Advance(m_handedOver);
    return CKxError::Success();
}

CKxError CBufferedFile::FlushLocked()
{
    if (m_used == 0)
        return CKxError::Success();
    CKxError result = WriteAllLocked(m_buffer, m_used);
    m_used = 0;
    return result;
}

KX_HOT_PATH CKxError CBufferedFile::AppendLocked(std::string_view bytes)
{
    if (m_failure.IsError())
        return m_failure;
    if (m_fd < 0)
        return CKxError(6, KxFormat("File '%s' is not open", m_path.c_str()));
    if (bytes.empty())
        return CKxError::Success();  // also spares memcpy a null source
    if (bytes.size() <= m_capacity - m_used) {
        std::memcpy(m_buffer + m_used, bytes.data(), bytes.size());
        m_used += bytes.size();
        m_tell += bytes.size();
        return CKxError::Success();
    }
    KX_RETURN_IF_ERROR(FlushLocked());
    if (bytes.size() >= m_capacity) {
        KX_RETURN_IF_ERROR(WriteAllLocked(bytes.data(), bytes.size()));
    } else {
        std::memcpy(m_buffer, bytes.data(), bytes.size());
        m_used = bytes.size();
    }
    m_tell += bytes.size();
    return CKxError::Success();
}

KX_HOT_PATH CKxError CBufferedFile::Append(std::string_view bytes)
{
    std::lock_guard lock(m_bufferLock);
    return AppendLocked(bytes);
}

CKxError CBufferedFile::AppendFile(const std::string& path, std::uint64_t* appended)
{
    if (appended)
        *appended = 0;
    int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open '%s' for reading", path.c_str()));
    std::lock_guard lock(m_bufferLock);
    CKxError result;
    if (m_failure.IsError()) {
        result = m_failure;
    } else if (m_fd < 0) {
        result = CKxError(6, KxFormat("File '%s' is not open", m_path.c_str()));
    } else {
        // Read straight into the free part of our buffer, flushing whenever it fills: no second
        // buffer, and memory stays bounded by the buffer whatever the file's size.
        while (true) {
            if (m_used == m_capacity) {
                result = FlushLocked();
                if (result.IsError())
                    break;
            }
            ssize_t n = ::read(in, m_buffer + m_used, m_capacity - m_used);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                result = CKxError::FromErrno(errno, KxFormat("Failed to read '%s'", path.c_str()));
                break;
            }
            if (n == 0)
                break;
            m_used += static_cast<size_t>(n);
            m_tell += static_cast<std::uint64_t>(n);
            if (appended)
                *appended += static_cast<std::uint64_t>(n);
        }
    }
    ::close(in);
    if (result.IsError())
        result.Push(KxFormat("Failed to append '%s' to '%s'", path.c_str(), m_path.c_str()));
    return result;
}

CKxError CBufferedFile::Flush()
{
    std::lock_guard lock(m_bufferLock);
    if (m_failure.IsError())
        return m_failure;
    if (m_fd < 0)
        return CKxError::Success();
    return FlushLocked();
}

CKxError CBufferedFile::Close()
{
    std::lock_guard lock(m_bufferLock);
    CKxError result;
    if (m_fd >= 0) {
        result = m_failure.IsError() ? m_failure : FlushLocked();
        if (m_writeBack) {
            m_writeBack->Finish();
            m_writeBack.reset();
        }
        if (::close(m_fd) != 0 && result.IsSuccess())
            result = Failed(errno, "close");
        m_fd = -1;
    }
    std::free(m_buffer);
    m_buffer = nullptr;
    m_used = 0;
    return result;
}
