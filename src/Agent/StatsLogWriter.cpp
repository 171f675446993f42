#include "Agent/StatsLogWriter.h"

#include "Agent/InstancePaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

CStatsLogWriter::CStatsLogWriter(std::string name, long long jobId, std::string module)
    : m_jobId(jobId), m_module(std::move(module))
{
    const std::string folder = CInstancePaths::LogFilesFolder();
    if (!folder.empty())
        m_path = folder + "/" + name + ".log";
}

CStatsLogWriter::~CStatsLogWriter()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CKxError CStatsLogWriter::Open()
{
    if (m_path.empty())
        return CKxError(KxCode::InvalidParameter, "No instance: the statistics log has no folder");
    // Non-blocking and checked after the open: a FIFO or a device put in the log's place is refused
    // at once instead of holding the job up or receiving its lines.
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0640);
    if (fd < 0)
        return CKxError::FromErrno(errno, "Failed to open the statistics log [" + m_path + "]");
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return CKxError(KxCode::AccessDenied, "Failed to open the statistics log [" + m_path + "]: not a regular file");
    }
    m_fd = fd;
    return CKxError::Success();
}

void CStatsLogWriter::Log(const std::string& line)
{
    if (m_fd < 0)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string text = std::string(stamp) + " " + std::to_string(m_jobId) + " " + m_module + " " + line + "\n";
    (void)!::write(m_fd, text.data(), text.size());
}
