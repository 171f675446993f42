#pragma once
// CsSnapBackupManager: the agent's snapshot manager, one file per job under the instance:
//
//   Snapshots/<jobId>.json
//   {"volumes": [{"source": "/data", "snapshot": "/mnt/snap-7/data", "archiveId": 77, "mounted": true}]}
//
// scripts/snapshot.sh takes the snapshots and writes the file; the catalog job reads it. Unmount
// detaches a snapshot that is a mount point (when the process runs as root) and rewrites the
// file with "mounted": false, synced, so the next reader never sees a half-written file.
//
// Thread: as ISnapBackupManager.
#include "Agent/ISnapBackupManager.h"

class CsSnapBackupManager : public ISnapBackupManager {
public:
    // Snapshots/<jobId>.json of the focused instance ("" without a focus).
    static std::string FileOf(long long jobId);
    // Reads `path`. A missing file is error 1168 (the job has no snapshot manager); a file that
    // is not of the form above fails naming the file and what is wrong.
    [[nodiscard]] static CKxError Load(const std::string& path, std::shared_ptr<CsSnapBackupManager>& manager);

    const std::vector<SVolume>& GetVolumes() const override { return m_volumes; }
    [[nodiscard]] CKxError GetArchiveIdForSourcePath(const std::string& volume, long long& archiveId) const override;
    [[nodiscard]] CKxError Unmount() override;

private:
    std::string m_path;
    std::vector<SVolume> m_volumes;
};

using CsSnapBackupManagerPtr = std::shared_ptr<CsSnapBackupManager>;
