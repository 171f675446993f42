#include "Base/LogWriter.h"

#include <fcntl.h>
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

CKxError CLogWriter::Open(const std::string& path, int level)
{
    // The log names paths from every user's tree: it is readable by its owner only, and a link
    // or a special file put in its place is refused, never followed or waited on.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return CKxError::FromErrno(errno, "Failed to open log file [" + path + "]");
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return CKxError(KxCode::AccessDenied, "Failed to open log file [" + path + "]: not a regular file");
    }
    if ((status.st_mode & 077) != 0)
        (void)::fchmod(fd, status.st_mode & 0600);  // a log an older version left open to others
    FILE* file = ::fdopen(fd, "a");
    if (!file) {
        const int error = errno;
        ::close(fd);
        return CKxError::FromErrno(error, "Failed to open log file [" + path + "]");
    }
    std::lock_guard lock(m_fileLock);
    if (m_file)
        std::fclose(m_file);
    m_file = file;
    m_path = path;
    m_level.store(level, std::memory_order_relaxed);
    return CKxError::Success();
}

void CLogWriter::Close()
{
    std::lock_guard lock(m_fileLock);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_path.clear();
    m_level.store(-1, std::memory_order_relaxed);
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
    if (m_file) {
        std::fwrite(text.data(), 1, text.size(), m_file);
        std::fflush(m_file);
        return;
    }
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    for (char& c : message)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
}
