#include "Scan/Unix/VolumeId.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

CKxError CVolumeId::Get(const std::string& localPath, std::string& volumeId)
{
    volumeId.clear();
    struct stat status {};
    if (::stat(localPath.c_str(), &status) != 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to get the volume id of [%s]", localPath.c_str()));
    volumeId = FromDevice(static_cast<std::uint64_t>(status.st_dev));
    return CKxError::Success();
}

std::string CVolumeId::FromDevice(std::uint64_t device)
{
    return KxFormat("%u:%u", major(device), minor(device));
}
