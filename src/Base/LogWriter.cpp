#include "Base/LogWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

CLogWriter& CLogWriter::Instance()
{
    static CLogWriter writer;
    return writer;
}

namespace {
// The log names paths from every user's tree: it is readable by its owner only, and a link or a
// special file put in its place is refused, never followed or waited on.
int OpenLogFile(int folderFd, const std::string& name, const std::string& path, CKxError& error)
{
    const int fd = ::openat(folderFd, name.c_str(),
                            O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        error = CKxError::FromErrno(errno, "Failed to open log file [" + path + "]");
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        error = CKxError(KxCode::AccessDenied, "Failed to open log file [" + path + "]: not a regular file");
        return -1;
    }
    if ((status.st_mode & 077) != 0)
        (void)::fchmod(fd, status.st_mode & 0600);  // a log an older version left open to others
    return fd;
}
}  // namespace

CKxError CLogWriter::Open(const std::string& path, int level)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return CKxError::FromErrno(errno, "Failed to open log folder [" + folder + "]");
    CKxError error = CKxError::Success();
    const int fd = OpenLogFile(folderFd, name, path, error);
    if (fd < 0) {
        ::close(folderFd);
        return error;
    }
    std::lock_guard lock(m_fileLock);
    CloseLocked();
    m_fd = fd;
    m_folderFd = folderFd;
    m_name = name;
    m_path = path;
    m_level.store(level, std::memory_order_relaxed);
    return CKxError::Success();
}

void CLogWriter::SetRotation(uint64_t bytes, unsigned keep)
{
    std::lock_guard lock(m_fileLock);
    m_rotateBytes = bytes;
    m_keep = keep;
}

void CLogWriter::Close()
{
    std::lock_guard lock(m_fileLock);
    CloseLocked();
    m_path.clear();
    m_level.store(-1, std::memory_order_relaxed);
}

void CLogWriter::CloseLocked()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_fd = m_folderFd = -1;
}

std::string CLogWriter::RotatedName(unsigned n) const
{
    return n == 0 ? m_name : m_name + "." + std::to_string(n);
}

void CLogWriter::AppendLocked(const std::string& text)
{
    // One write per line: appends of other processes never land inside it.
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a full disk loses log lines, never the job
        done += static_cast<size_t>(n);
    }
    if (m_rotateBytes == 0)
        return;
    const off_t end = ::lseek(m_fd, 0, SEEK_CUR);  // after an append: the file's size then
    if (end >= 0 && static_cast<uint64_t>(end) >= m_rotateBytes)
        RotateLocked();
}

void CLogWriter::RotateLocked()
{
    // Writers of one file meet on the lock of that file. Whoever holds it while the name still
    // points to the file and it is still full renames it; the others find a new file under the
    // name and move on to it. A line appended to the old file meanwhile is in the first rotated one.
    if (::flock(m_fd, LOCK_EX) != 0)
        return;
    struct stat mine {}, named {};
    const bool current = ::fstat(m_fd, &mine) == 0 &&
                         ::fstatat(m_folderFd, m_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                         mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
    if (current && static_cast<uint64_t>(mine.st_size) >= m_rotateBytes) {
        if (m_keep == 0)
            (void)::unlinkat(m_folderFd, m_name.c_str(), 0);
        for (unsigned n = m_keep; n > 0; --n)  // a missing older file is no error
            (void)::renameat(m_folderFd, RotatedName(n - 1).c_str(), m_folderFd, RotatedName(n).c_str());
    }
    CKxError error = CKxError::Success();
    const int fd = OpenLogFile(m_folderFd, m_name, m_path, error);
    ::flock(m_fd, LOCK_UN);
    if (fd < 0)
        return;  // keep appending to the file we have
    ::close(m_fd);
    m_fd = fd;
}

std::string CLogWriter::Path() const
{
    std::lock_guard lock(m_fileLock);
    return m_path;
}

void CLogWriter::Write(int level, const char* function, unsigned line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteV(level, function, line, format, args);
    va_end(args);
}

void CLogWriter::WriteV(int level, const char* function, unsigned line, const char* format, va_list args)
{
    if (!Enabled(level))
        return;
    std::string message = KxFormatV(format, args);
    time_t now = ::time(nullptr);
    struct tm parts {};
    localtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::string text = KxFormat("%s %d %ld %d %s:%u ", stamp, static_cast<int>(::getpid()),
                                static_cast<long>(::syscall(SYS_gettid)), level, function, line);
    text += message;
    if (text.empty() || text.back() != '\n')
        text += '\n';
    std::lock_guard lock(m_fileLock);
    if (m_fd >= 0) {
        AppendLocked(text);
        return;
    }
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    for (char& c : message)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
}
