#pragma once
// CBackupStatusFile: the per-volume change-tracking status of the subclient's last backup, kept
// beside the subclient's results ("cjInfoTot.zvf" in the subclient results folder).
//
// File systems on this platform keep no change journal, so the status is an in-memory store
// for the length of one job: the file is looked for (and the store emptied when it exists),
// never parsed, and nothing is written back. GetBackupStatusData therefore always answers a
// default record: every volume is evaluated by the job's reference time, never by sequence
// numbers of an earlier job. SaveUpdatedStatusData keeps what the job learnt, so that a later
// save for the same volume replaces an earlier one.
//
// Ownership: the Unix callback makes one per job. Thread: every operation may be called from
// any thread (the output handlers of several workers ask for their volume's status); the maps
// are guarded by m_statusLock.
#include "Base/KxError.h"
#include "Scan/Unix/VolumeBackupStatusData.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

class CBackupStatusFile {
public:
    static constexpr const char* kFileName = "cjInfoTot.zvf";

    // Calls Initialize; a failure is logged and the object stays usable (empty).
    explicit CBackupStatusFile(std::string resultsFolderForSubclient);
    ~CBackupStatusFile();
    CBackupStatusFile(const CBackupStatusFile&) = delete;
    CBackupStatusFile& operator=(const CBackupStatusFile&) = delete;

    [[nodiscard]] CKxError Initialize();
    // Files of an older layout would be converted here; there are none on this platform.
    [[nodiscard]] CKxError MigrateOldFile();
    // Empties the store when the file at `path` exists; a missing file is not an error.
    [[nodiscard]] CKxError ReadFile(const std::string& path);

    // A default record: no volume's sequence numbers are carried between jobs here.
    CVolumeBackupStatusData GetBackupStatusData(const std::string& volumeName) const;
    // Stores a copy of `record` under its volume name, replacing an earlier one.
    [[nodiscard]] CKxError SaveUpdatedStatusData(const CVolumeBackupStatusData& record);
    // Nothing is persisted on this platform: success without writing.
    [[nodiscard]] CKxError WriteOutputFile();
    [[nodiscard]] CKxError WriteRecord(int handle, const CVolumeBackupStatusData& record);

    // The record saved for `volumeName` in this job, if any (diagnostics and tests).
    bool GetSavedStatusData(const std::string& volumeName, CVolumeBackupStatusData& record) const;
    const std::string& GetStatusFilePath() const { return m_statusFilePath; }

private:
    mutable std::mutex m_statusLock;  // guards the two maps
    std::string m_resultsFolderForSubclient;
    std::string m_statusFilePath;
    std::map<std::string, CVolumeBackupStatusData> m_readRecords;     // what the file held
    std::map<std::string, CVolumeBackupStatusData> m_updatedRecords;  // what this job saved
};

using CBackupStatusFilePtr = std::shared_ptr<CBackupStatusFile>;
