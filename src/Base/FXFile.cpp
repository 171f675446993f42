#include "Base/FXFile.h"
#include "Base/FileSystemIdentity.h"

#include "Base/BackgroundRemover.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "Base/FXPath.h"

CKxError FXFile::WriteAll(int fd, const char* data, size_t size, const std::string& path)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return CKxError::FromErrno(errno, "write failed for [" + path + "]");
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return CKxError::Success();
}

bool FXFile::Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool FXFile::IsDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CKxError FXFile::CreateDirectories(const std::string& path, unsigned mode)
{
    if (path.empty())
        return CKxError(KxCode::InvalidParameter, "CreateDirectories: empty path");
    if (IsDirectory(path))
        return CKxError::Success();
    CFileSystemIdentity::COwnCredentials own;  // the job's folders are the process's, never the walk user's
    std::string parent = FXPath::Parent(path);
    if (!parent.empty() && parent != path)
        KX_RETURN_IF_ERROR(CreateDirectories(parent, mode));
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return CKxError::FromErrno(errno, "mkdir failed for [" + path + "]");
    return CKxError::Success();
}

CKxError FXFile::ListMatchingFiles(const std::string& folder, const std::string& pattern,
                                   std::vector<std::string>& names)
{
    names.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT)
            return CKxError::Success();
        return CKxError::FromErrno(errno, "opendir failed for [" + folder + "]");
    }
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (::fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) == 0)
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return CKxError::Success();
}

CKxError FXFile::DeleteMatchingFiles(const std::string& folder, const std::string& pattern, size_t* deleted)
{
    std::vector<std::string> names;
    KX_RETURN_IF_FAILED(ListMatchingFiles(folder, pattern, names), "DeleteMatchingFiles [%s/%s]",
                        folder.c_str(), pattern.c_str());
    size_t count = 0;
    for (const std::string& name : names) {
        KX_RETURN_IF_ERROR(CBackgroundRemover::Instance().Remove(FXPath::Append(folder, name)));
        ++count;
    }
    if (deleted)
        *deleted = count;
    return CKxError::Success();
}

CKxError FXFile::ReadWholeFile(const std::string& path, std::string& content)
{
    content.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return CKxError::FromErrno(errno, "open failed for [" + path + "]");
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            return CKxError::FromErrno(err, "read failed for [" + path + "]");
        }
        if (n == 0)
            break;
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return CKxError::Success();
}

CKxError FXFile::CreateTemporaryBeside(const std::string& path, std::string& temp, int& fd)
{
    unsigned char random[8];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        return CKxError::FromErrno(errno, "getrandom failed for a temporary name beside [" + path + "]");
    char hex[2 * sizeof random + 1];
    for (size_t i = 0; i < sizeof random; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", random[i]);
    temp = path + ".tmp." + std::to_string(::getpid()) + "." + hex;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return CKxError::FromErrno(errno, "open failed for [" + temp + "]");
    return CKxError::Success();
}

CKxError FXFile::WriteFileAtomically(const std::string& path, const std::string& content, EDurability durability)
{
    CFileSystemIdentity::COwnCredentials own;  // the job's files are the process's, never the walk user's
    std::string temp;
    int fd = -1;
    KX_RETURN_IF_ERROR(CreateTemporaryBeside(path, temp, fd));
    CKxError err = FXFile::WriteAll(fd, content.data(), content.size(), temp);
    if (err.IsSuccess() && durability == EDurability::Synced && ::fsync(fd) != 0)
        err = CKxError::FromErrno(errno, "fsync failed for [" + temp + "]");
    if (::close(fd) != 0 && err.IsSuccess())
        err = CKxError::FromErrno(errno, "close failed for [" + temp + "]");
    if (err.IsError()) {
        ::unlink(temp.c_str());
        return err;
    }
    return Rename(temp, path);
}

CKxError FXFile::Remove(const std::string& path)
{
    CFileSystemIdentity::COwnCredentials own;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return CKxError::FromErrno(errno, "unlink failed for [" + path + "]");
    return CKxError::Success();
}

CKxError FXFile::Rename(const std::string& from, const std::string& to)
{
    CFileSystemIdentity::COwnCredentials own;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return CKxError::FromErrno(errno, "rename [" + from + "] to [" + to + "] failed");
    return CKxError::Success();
}

CKxError FXFile::Copy(const std::string& from, const std::string& to)
{
    std::string content;
    KX_RETURN_IF_FAILED(ReadWholeFile(from, content), "Copy [%s] to [%s]", from.c_str(), to.c_str());
    return WriteFileAtomically(to, content);
}
