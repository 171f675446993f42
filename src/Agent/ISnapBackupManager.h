#pragma once
// ISnapBackupManager: the snapshot manager a catalog job asks about the snapshots of its
// content: per source path, the folder where its snapshot is mounted, the archive id the backup
// phase files it under, and whether it is still mounted. It also unmounts the snapshots of a
// job whose catalog failed.
//
// The agent's own implementation is file-backed (CsSnapBackupManager, Snapshots/<jobId>.json);
// a real manager replaces it behind this interface.
//
// Thread: the const members from any thread; Unmount from one thread, with no reader.
#include "Base/KxError.h"

#include <memory>
#include <string>
#include <vector>

class ISnapBackupManager {
public:
    struct SVolume {
        std::string source;    // the source path the snapshot was taken of
        std::string snapshot;  // where the snapshot of `source` is mounted
        long long archiveId = 0;
        bool mounted = true;
    };

    virtual ~ISnapBackupManager();

    virtual const std::vector<SVolume>& GetVolumes() const = 0;
    // The archive id of the first volume whose source lies on the source volume `volume` (at or
    // below it, or holding it); error 1168 when there is none.
    [[nodiscard]] virtual CKxError GetArchiveIdForSourcePath(const std::string& volume, long long& archiveId) const = 0;
    // Unmounts every snapshot of the job and records it no longer mounted.
    [[nodiscard]] virtual CKxError Unmount() = 0;
};

using ISnapBackupManagerPtr = std::shared_ptr<ISnapBackupManager>;
