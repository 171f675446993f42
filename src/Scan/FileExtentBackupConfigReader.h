#pragma once
// CFileExtentBackupConfigReader: whether the large files of a subclient are backed up by
// extents, whether only their access-control lists are, and from which size on.
//
// The answer comes from the subclient's "extentBackup" object of the application
// configuration ({"enabled", "aclOnly", "fileSizeThreshold"}; all off when absent). The
// archiving variant answers from the same object: an archiving job asks it only when the
// subclient honours the archiver's retention.
//
// Thread: any thread; the reader holds no state.
#include <cstdint>

#include "Base/KxError.h"

class Subclient;

namespace FILEASEXTENTSAPI {

struct SFileExtentBackupConfig {
    bool extentBackupEnabled = false;
    bool aclOnlyBackupEnabled = false;
    std::uint64_t fileSizeThreshold = 0;  // bytes
};

class CFileExtentBackupConfigReader {
public:
    // Error 87 without a subclient; a failing subclient query is passed on.
    CKxError GetFileExtentBackupConfiguration(const Subclient* subclient, SFileExtentBackupConfig& config) const;
    CKxError GetFileExtentBackupConfigurationForArchiving(const Subclient* subclient,
                                                          SFileExtentBackupConfig& config) const;
};

}  // namespace FILEASEXTENTSAPI
