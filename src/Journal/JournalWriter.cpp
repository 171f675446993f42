#include "Journal/JournalWriter.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Journal/JournalFormat.h"

CJournalWriter::~CJournalWriter()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

std::string CJournalWriter::JournalPath() const { return FXPath::Append(m_folder, JournalFormat::kFileName); }

CKxError CJournalWriter::Start(const std::string& resultsFolder, const std::string& runId, uint64_t sequence,
                               int64_t completeSince)
{
    m_folder = FXPath::TrimTrailingSlashes(resultsFolder);
    m_runId = runId;
    m_sequence = sequence;
    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(m_folder, 0700), "Cannot create the results folder for a change journal");
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_folderFd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_folderFd < 0)
        return CKxError::FromErrno(errno, "open failed for the results folder [" + m_folder + "]");
    return Replace(completeSince);
}

CKxError CJournalWriter::Rotate(int64_t completeSince)
{
    ++m_sequence;
    return Replace(completeSince);
}

CKxError CJournalWriter::Replace(int64_t completeSince)
{
    m_pending.clear();
    unsigned char random[8];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        return CKxError::FromErrno(errno, "getrandom failed for a change journal's temporary name");
    char temp[64];
    std::snprintf(temp, sizeof temp, "%s.tmp.%02x%02x%02x%02x%02x%02x%02x%02x", JournalFormat::kFileName, random[0],
                  random[1], random[2], random[3], random[4], random[5], random[6], random[7]);
    const int fd = ::openat(m_folderFd, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_APPEND, 0600);
    if (fd < 0)
        return CKxError::FromErrno(errno, "open failed for [" + FXPath::Append(m_folder, temp) + "]");
    std::string header;
    JournalFormat::AppendHeader(m_runId, m_sequence, completeSince, header);
    CKxError e = FXFile::WriteAll(fd, header.data(), header.size(), FXPath::Append(m_folder, temp));
    if (e.IsSuccess() && ::fdatasync(fd) != 0)
        e = CKxError::FromErrno(errno, "fdatasync failed for [" + FXPath::Append(m_folder, temp) + "]");
    if (e.IsSuccess() && ::renameat(m_folderFd, temp, m_folderFd, JournalFormat::kFileName) != 0)
        e = CKxError::FromErrno(errno, "rename of [" + FXPath::Append(m_folder, temp) + "] to the change journal failed");
    if (e.IsError()) {
        ::unlinkat(m_folderFd, temp, 0);
        ::close(fd);
        return e;
    }
    if (::fsync(m_folderFd) != 0) {
        const int err = errno;
        ::close(fd);
        return CKxError::FromErrno(err, "fsync failed for the results folder [" + m_folder + "]");
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    m_size = m_headerSize = header.size();
    m_unsynced = false;
    return CKxError::Success();
}

void CJournalWriter::AddFolder(std::string_view path) { JournalFormat::AppendFolder(path, m_pending); }
void CJournalWriter::AddLink(std::string_view path) { JournalFormat::AppendLink(path, m_pending); }
void CJournalWriter::AddBroken(std::string_view cause) { JournalFormat::AppendBroken(cause, m_pending); }
void CJournalWriter::AddEnd() { JournalFormat::AppendEnd(m_pending); }

CKxError CJournalWriter::Flush()
{
    if (m_pending.empty())
        return CKxError::Success();
    if (m_fd < 0)
        return CKxError(KxCode::InvalidParameter, "The change journal of [" + m_folder + "] is not open");
    KX_RETURN_IF_ERROR(FXFile::WriteAll(m_fd, m_pending.data(), m_pending.size(), JournalPath()));
    m_size += m_pending.size();
    m_pending.clear();
    m_unsynced = true;
    return CKxError::Success();
}

CKxError CJournalWriter::Sync()
{
    if (!m_unsynced)
        return CKxError::Success();
    if (::fdatasync(m_fd) != 0)
        return CKxError::FromErrno(errno, "fdatasync failed for the change journal [" + JournalPath() + "]");
    m_unsynced = false;
    return CKxError::Success();
}
