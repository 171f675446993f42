#include "Agent/JobJournal.h"
#include "Base/FileSystemIdentity.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <fcntl.h>
#include <unistd.h>

#include "Agent/InstancePaths.h"
#include "Base/DecimalText.h"
#include "Base/FXPath.h"
#include "Base/OutputSync.h"

std::string CJobJournal::PathFor(int64_t jobId)
{
    std::string folder = CInstancePaths::JobManagerFolder();
    return folder.empty() ? std::string() : FXPath::Append(folder, std::to_string(jobId) + ".jsonl");
}

std::string CJobJournal::QuitFlagPathFor(int64_t jobId)
{
    std::string folder = CInstancePaths::JobManagerFolder();
    return folder.empty() ? std::string() : FXPath::Append(folder, std::to_string(jobId) + ".quit");
}

CKxError CJobJournal::Append(int64_t jobId, const std::string& jsonObject, EDurability durability)
{
    std::string path = PathFor(jobId);
    if (path.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus for the job-manager journal");
    return AppendToFile(path, jsonObject, durability);
}

CKxError CJobJournal::AppendToFile(const std::string& path, const std::string& jsonObject, EDurability durability)
{
    if (jsonObject.find('\n') != std::string::npos)
        return CKxError(KxCode::InvalidParameter, "Journal record holds a line break");
    std::string line = jsonObject + "\n";
    // Events are raised from walk threads too: the journal is the process's, never the walk user's.
    CFileSystemIdentity::COwnCredentials own;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return CKxError::FromErrno(errno, "Failed to open job-manager journal [" + path + "]");
    // One write per record: with O_APPEND the kernel places it whole at the end of the file,
    // whichever thread or process writes next.
    ssize_t written;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    int writeErrno = errno;
    int syncErrno = 0;
    if (written >= 0 && durability == EDurability::Synced && ::fdatasync(fd) != 0)
        syncErrno = errno;
    ::close(fd);
    if (written < 0)
        return CKxError::FromErrno(writeErrno, "Failed to append to job-manager journal [" + path + "]");
    if (static_cast<size_t>(written) != line.size())
        return CKxError(KxCode::InvalidData, "Short append to job-manager journal [" + path + "]");
    if (syncErrno != 0)
        return CKxError::FromErrno(syncErrno, "Failed to sync job-manager journal [" + path + "]");
    // The journal was made by the job's first line, which nothing synced.
    if (durability == EDurability::Synced)
        KX_RETURN_IF_ERROR(COutputSync::SyncFolder(FXPath::Parent(path)));
    return CKxError::Success();
}

CKxError CJobJournal::Read(int64_t jobId, std::vector<std::string>& lines)
{
    const std::string path = PathFor(jobId);
    std::ifstream in(path);
    if (!in)
        return CKxError::FromErrno(errno ? errno : ENOENT, "Failed to read job-manager journal [" + path + "]");
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::move(line));
    return CKxError::Success();
}

std::vector<int64_t> CJobJournal::JobIds()
{
    std::vector<int64_t> ids;
    const std::string folder = CInstancePaths::JobManagerFolder();
    DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir)
        return ids;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        long long id = 0;
        if (name.size() > 6 && name.compare(name.size() - 6, 6, ".jsonl") == 0 &&
            DecimalText::ParseSigned(name.substr(0, name.size() - 6), id))
            ids.push_back(id);
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}
