#include "Base/LogWriter.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

CLogWriter& CLogWriter::Instance()
{
    static CLogWriter writer;
    return writer;
}

CKxError CLogWriter::Open(const std::string& path, int level)
{
    FILE* file = std::fopen(path.c_str(), "ae");
    if (!file)
        return CKxError::FromErrno(errno, "Failed to open log file [" + path + "]");
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
    FILE* out = m_file ? m_file : stderr;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}
