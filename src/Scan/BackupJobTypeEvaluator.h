#pragma once
// CBackupJobTypeEvaluator: decides per item whether this job backs it up (the collect side of
// a volume's output stage); every item reaches the directory-change record regardless.
//
// Reference (Initialize): backup type 1 (full) keeps no reference, so every item is selected
// by the time rule. Type 2 (incremental) takes "LastUsn" and "RefTime" of the volume's status
// record, type 4 (differential) "FullUsn" and "RefTime"; any other non-full type takes
// "LastGoodUsn" when "RefTime" equals the job's reference time (else "LastUsn") and no
// reference time, so it selects everything by time. On this platform the status record the
// callback hands in carries the job's reference time as "RefTime" and no sequence numbers.
// Without a record, a record with that reference time stands in. A non-full job also keeps the
// previous job's directory-change record (IDirChange) given to Initialize.
//
// IsSelected: the first rule that decides wins.
//   1. Sequence number ("USN:Windows" in the item bag) at or after the reference number:
//      selected. The first item without one turns the rule off for the rest of the job.
//   2. An item fed back from the previous job's commit or failed list as metadata-only
//      ("ItemACLOnlyCommitOrFailed", "ExtentQualifiedFile", a regular file, not offline), with
//      "SC::IdentifyACLOnlyItem" and a previous record: not selected, "DirChangeItemACLOnly".
//   3. "POSTPROCESS_QUALIFIED", 4. "DELETED", 5. new in the image: selected.
//   6. A folder while "JO:IncludeEmptyFolders" is on: selected.
//   7. Data-classification time (interface 0 of the item) at or after the reference time:
//      selected; before it: go to rule 9. The first item without the interface turns the rule
//      off for the rest of the job.
//   8. Times: a clear reference time, or the write time ("JO:MTIME") at or after it: selected.
//      The change time ("JO:CTIME") at or after it: an access-time preserver decides for
//      regular files when one is set; a metadata-only candidate (identify-ACL-only, previous
//      record, "ExtentQualifiedFile", regular file, not offline) known to the previous record
//      is not selected and gets "DirChangeItemACLOnly", one unknown to it is new in the image
//      and selected; anything else is selected.
//   9. Not selected by time: selected and marked new in the image when the previous record
//      does not know the item (moved or copied in with old times); otherwise not selected.
// Comparisons are at-or-after, so an item written in the reference second is taken again.
// A switch that is not in the bag counts as on ("JO:MTIME", "JO:CTIME").
//
// Ownership: one per output-handler request; it shares the previous record with the index
// that holds it. Thread: Initialize and the setters before use; IsSelected from any worker
// thread. The two self-disabling rule switches only ever go from on to off; they are atomic,
// so a racing thread at worst tries its rule once more.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Base/TimeStamp.h"
#include "CollectFile/IDirChange.h"
#include "Engine/ItemEvaluator.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CVolumeBackupStatusData;
class CATimePreserver;

class CBackupJobTypeEvaluator : public CItemEvaluator {
public:
    static constexpr unsigned long kFullBackup = 1;
    static constexpr unsigned long kIncrementalBackup = 2;
    static constexpr unsigned long kDifferentialBackup = 4;

    // `status`: the volume's backup status record; may be empty (see above).
    explicit CBackupJobTypeEvaluator(std::shared_ptr<CVolumeBackupStatusData> status = nullptr);
    ~CBackupJobTypeEvaluator() override;

    // `bag` may be empty (time switches on, no metadata-only rules); `previous` may be empty.
    // Always success; may be called again to start over.
    [[nodiscard]] CKxError Initialize(unsigned long backupType, const CTimeStamp& referenceTime, const CBagPtr& bag,
                                      IDirChangePtr previous = nullptr);
    bool IsSelected(const CItemPtr& item) override;
    [[nodiscard]] CKxError Complete();

    void SetUseMTime(bool on) { m_useMTime = on; }
    void SetUseCTime(bool on) { m_useCTime = on; }
    void SetUseArchiveBit(bool on) { m_useArchiveBit = on; }
    void SetATimePreserver(std::shared_ptr<CATimePreserver> preserver) { m_aTimePreserver = std::move(preserver); }

    unsigned long GetBackupType() const { return m_backupType; }
    const CTimeStamp& GetReferenceTime() const { return m_referenceTime; }
    std::int64_t GetReferenceUsn() const { return m_referenceUsn; }
    const IDirChangePtr& GetPreviousDirChange() const { return m_previous; }
    bool IsUseMTime() const { return m_useMTime; }
    bool IsUseCTime() const { return m_useCTime; }
    bool IsUseArchiveBit() const { return m_useArchiveBit; }
    bool IsIdentifyACLOnly() const { return m_identifyACLOnly; }
    bool IsIncludeEmptyFolders() const { return m_includeEmptyFolders; }
    bool IsUseUsn() const { return m_useUsn.load(std::memory_order_relaxed); }
    bool IsUseDataClassification() const { return m_useDataClassification.load(std::memory_order_relaxed); }

private:
    // Rule 9 and the lookup of rule 8: true when the previous record knows the item.
    bool IsKnownToPrevious(const CItem& item) const;
    // A regular file that is not offline and qualifies for extent-level backup.
    static bool IsMetadataOnlyCandidate(const CItem& item);

    std::shared_ptr<CVolumeBackupStatusData> m_status;
    unsigned long m_backupType = kFullBackup;
    std::int64_t m_referenceUsn = 0;
    CTimeStamp m_referenceTime;
    std::atomic<bool> m_useUsn{true};
    std::atomic<bool> m_useDataClassification{true};
    bool m_useMTime = true;
    bool m_useCTime = true;
    bool m_useArchiveBit = false;
    bool m_previousPresent = false;
    IDirChangePtr m_previous;
    std::shared_ptr<CATimePreserver> m_aTimePreserver;
    bool m_includeEmptyFolders = false;
    bool m_identifyACLOnly = false;
    // No reference time and no previous record: every rule ends in "take it" (set by Initialize).
    bool m_takesEverything = false;
};

using CBackupJobTypeEvaluatorPtr = std::shared_ptr<CBackupJobTypeEvaluator>;
