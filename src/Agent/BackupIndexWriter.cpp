#include "Agent/BackupIndexWriter.h"

#include "Base/DirChangePathOrder.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/OutputSync.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {
char KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return SIndexItem::kFile;
    if (S_ISDIR(mode))
        return SIndexItem::kFolder;
    if (S_ISLNK(mode))
        return SIndexItem::kSymbolicLink;
    return SIndexItem::kOther;
}

CKxError WriteAll(int fd, std::string_view data, const std::string& path)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return CKxError::FromErrno(errno, "write failed for [" + path + "]");
        }
        data.remove_prefix(static_cast<size_t>(written));
    }
    return CKxError::Success();
}
}  // namespace

CBackupIndexWriter::CBackupIndexWriter(std::string folder, long long jobId, unsigned int backupType)
    : m_folder(std::move(folder)), m_path(FXPath::Append(m_folder, BackupIndexFormat::JobFileName(jobId)))
{
    m_job.jobId = jobId;
    m_job.backupType = backupType;
}

BackupIndexFormat::SLine& CBackupIndexWriter::Add(std::string_view path, char kind)
{
    BackupIndexFormat::SLine& line = m_lines.emplace_back();
    line.item.path = DirChangePathOrder::TrimTrailingSlashes(path);
    line.item.kind = kind;
    return line;
}

void CBackupIndexWriter::AddItem(std::string_view path, const struct stat& status)
{
    SIndexItem& item = Add(path, KindOf(status.st_mode)).item;
    item.mtime = status.st_mtim.tv_sec;
    item.ctime = status.st_ctim.tv_sec;
    item.size = item.kind == SIndexItem::kFolder ? 0 : static_cast<std::uint64_t>(status.st_size);
}

void CBackupIndexWriter::AddDeletion(std::string_view path) { Add(path, BackupIndexFormat::kDeletion); }

void CBackupIndexWriter::AddFailure(std::string_view path, int error)
{
    Add(path, BackupIndexFormat::kFailure).error = error;
}

CKxError CBackupIndexWriter::Commit(std::time_t now)
{
    using BackupIndexFormat::SLine;
    std::stable_sort(m_lines.begin(), m_lines.end(),
                     [](const SLine& a, const SLine& b) { return BackupIndexFormat::Compare(a, b) < 0; });
    m_lines.erase(std::unique(m_lines.begin(), m_lines.end(),
                              [](const SLine& a, const SLine& b) { return BackupIndexFormat::Compare(a, b) == 0; }),
                  m_lines.end());

    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(m_folder, 0700), "Cannot make the backup-index folder [%s]",
                        m_folder.c_str());
    std::string temp;
    int fd = -1;
    KX_RETURN_IF_FAILED(FXFile::CreateTemporaryBeside(m_path, temp, fd), "Cannot write backup-index file [%s]",
                        m_path.c_str());
    m_job.written = static_cast<std::int64_t>(now);
    std::string chunk;
    BackupIndexFormat::AppendHeader(m_job, chunk);
    CKxError written;
    for (size_t i = 0; i < m_lines.size() && written.IsSuccess(); ++i) {
        BackupIndexFormat::AppendLine(m_lines[i], chunk);
        if (chunk.size() >= (size_t{1} << 20)) {
            written = WriteAll(fd, chunk, temp);
            chunk.clear();
        }
    }
    if (written.IsSuccess())
        written = WriteAll(fd, chunk, temp);
    if (written.IsSuccess() && ::fsync(fd) != 0)
        written = CKxError::FromErrno(errno, "fsync failed for [" + temp + "]");
    if (::close(fd) != 0 && written.IsSuccess())
        written = CKxError::FromErrno(errno, "close failed for [" + temp + "]");
    if (written.IsSuccess())
        written = FXFile::Rename(temp, m_path);
    if (written.IsError()) {
        (void)FXFile::Remove(temp);
        return std::move(written.Push(KxFormat("Cannot write backup-index file [%s]", m_path.c_str())));
    }
    KX_RETURN_IF_FAILED(COutputSync::SyncFolder(m_folder), "Backup-index file [%s] written, its folder not synced",
                        m_path.c_str());
    return CKxError::Success();
}
