#pragma once
// CVolumeId: the unique id of the volume (mounted file system) that holds a local path, the
// key under which a job keeps one output resource per volume: the device number of the path
// as "major:minor" (the form the kernel's mount table uses). Every path of one mounted file
// system answers the same id, however it is spelt (two content paths on one volume, a bind
// mount of it); two file systems never share one while both are mounted.
//
// Thread: stateless; any thread.
#include "Base/KxError.h"

#include <cstdint>
#include <string>

class CVolumeId {
public:
    // Follows a symbolic link at `localPath` (a volume path names its mount point). Errors are
    // errno errors naming the path.
    [[nodiscard]] static CKxError Get(const std::string& localPath, std::string& volumeId);
    static std::string FromDevice(std::uint64_t device);
};
