#include "Scan/Archiving/StubCollectFile.h"

#include "Base/FXFile.h"
#include "Base/FileNameEscaping.h"

#include <unistd.h>

#include <cerrno>

namespace {
constexpr std::size_t kFlushAt = 1 << 20;
}

CStubCollectFile::CStubCollectFile(std::string path) : m_path(std::move(path)) {}

CStubCollectFile::~CStubCollectFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        (void)FXFile::Remove(m_temp);
    }
}

CKxError CStubCollectFile::Open()
{
    std::lock_guard lock(m_lock);
    KX_RETURN_IF_FAILED(FXFile::CreateTemporaryBeside(m_path, m_temp, m_fd), "Failed to create the stub collect file [%s]",
                        m_path.c_str());
    return CKxError::Success();
}

CKxError CStubCollectFile::FlushLocked()
{
    for (std::size_t done = 0; done < m_buffer.size();) {
        const ssize_t wrote = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return CKxError::FromErrno(errno, "Failed to write the stub collect file [" + m_temp + "]");
        done += static_cast<std::size_t>(wrote);
    }
    m_buffer.clear();
    return CKxError::Success();
}

CKxError CStubCollectFile::Add(std::string_view sourcePath, std::uint64_t size)
{
    std::string line = escapeFileName(sourcePath);
    line += '|' + std::to_string(size) + '\n';
    std::lock_guard lock(m_lock);
    if (m_fd < 0)
        return CKxError(KxCode::OperationAborted, "The stub collect file [" + m_path + "] is not open");
    m_buffer += line;
    ++m_count;
    return m_buffer.size() >= kFlushAt ? FlushLocked() : CKxError::Success();
}

CKxError CStubCollectFile::Close()
{
    std::lock_guard lock(m_lock);
    if (m_fd < 0)
        return CKxError::Success();
    KX_RETURN_IF_ERROR(FlushLocked());
    const int fd = m_fd;
    m_fd = -1;
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return CKxError::FromErrno(error, "Failed to sync the stub collect file [" + m_temp + "]");
    }
    ::close(fd);
    KX_RETURN_IF_ERROR(FXFile::Rename(m_temp, m_path));
    return CKxError::Success();
}

std::uint64_t CStubCollectFile::GetCount() const
{
    std::lock_guard lock(m_lock);
    return m_count;
}
