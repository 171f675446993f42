#pragma once
// CVolumeBackupStatusData: the change-tracking status of one source volume after a backup: the
// volume's change-journal sequence numbers and the reference time of the backup. The backup-type
// evaluator of a volume starts from it.
//
// A new record has an empty volume name, zero numbers and a default time stamp. A plain value:
// copy it to hand it to another thread.
#include "Base/TimeStamp.h"

#include <cstdint>
#include <string>

class CVolumeBackupStatusData {
public:
    CVolumeBackupStatusData() = default;
    explicit CVolumeBackupStatusData(std::string volumeName) : m_volumeName(std::move(volumeName)) {}

    // Takes every field of `other`.
    void Copy(const CVolumeBackupStatusData& other);

    const std::string& GetVolumeName() const { return m_volumeName; }
    void SetVolumeName(std::string name) { m_volumeName = std::move(name); }
    std::int64_t GetLastUsn() const { return m_lastUsn; }
    void SetLastUsn(std::int64_t usn) { m_lastUsn = usn; }
    const CTimeStamp& GetRefTime() const { return m_refTime; }
    void SetRefTime(const CTimeStamp& time) { m_refTime = time; }
    std::int64_t GetLastGoodUsn() const { return m_lastGoodUsn; }
    void SetLastGoodUsn(std::int64_t usn) { m_lastGoodUsn = usn; }
    std::int64_t GetFullUsn() const { return m_fullUsn; }
    void SetFullUsn(std::int64_t usn) { m_fullUsn = usn; }
    std::int64_t GetJournalId() const { return m_journalId; }
    void SetJournalId(std::int64_t id) { m_journalId = id; }

    bool operator==(const CVolumeBackupStatusData&) const = default;

private:
    std::string m_volumeName;
    std::int64_t m_lastUsn = 0;      // "LastUsn"
    CTimeStamp m_refTime;            // "RefTime"
    std::int64_t m_lastGoodUsn = 0;  // "LastGoodUsn"
    std::int64_t m_fullUsn = 0;      // "FullUsn"
    std::int64_t m_journalId = 0;    // identity of the change journal the numbers belong to
};
