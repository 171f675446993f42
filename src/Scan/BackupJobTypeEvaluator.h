#pragma once
// CBackupJobTypeEvaluator: decides per item whether this job backs it up (the collect side of
// a volume's output stage); every item reaches the directory-change side regardless.
//
// Until the previous job's directory-change records take part, the decision is by time only:
//   - a full backup (type 1) selects every item;
//   - any other type selects folders (so that the backup phase can recreate the tree),
//     items marked new in the image, and items whose last write time ("JO:MTIME") or last
//     change time ("JO:CTIME") is at or after the job's reference time; a clear reference time
//     selects everything. A switch that is not in the bag counts as on.
// Items moved in with old times and deletions are not found this way; that needs the
// previous records and replaces this rule.
//
// Ownership: one per output-handler request. Thread: Initialize before use; IsSelected from
// any thread (the fields are read-only afterwards).
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Base/TimeStamp.h"
#include "Engine/ItemEvaluator.h"

class CBackupJobTypeEvaluator : public CItemEvaluator {
public:
    static constexpr unsigned long kFullBackup = 1;

    CBackupJobTypeEvaluator();
    ~CBackupJobTypeEvaluator() override;

    // `bag` may be empty (both time switches on).
    [[nodiscard]] CKxError Initialize(unsigned long backupType, const CTimeStamp& referenceTime, const CBagPtr& bag);
    bool IsSelected(const CItemPtr& item) override;
    [[nodiscard]] CKxError Complete();

    void SetUseMTime(bool on) { m_useMTime = on; }
    void SetUseCTime(bool on) { m_useCTime = on; }
    unsigned long GetBackupType() const { return m_backupType; }
    const CTimeStamp& GetReferenceTime() const { return m_referenceTime; }

private:
    unsigned long m_backupType = kFullBackup;
    CTimeStamp m_referenceTime;
    bool m_useMTime = true;
    bool m_useCTime = true;
};

using CBackupJobTypeEvaluatorPtr = std::shared_ptr<CBackupJobTypeEvaluator>;
