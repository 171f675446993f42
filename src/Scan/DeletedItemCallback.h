#pragma once
// CDeletedItemCallback: what the comparison of this job's directory-change record with the
// previous one does with each difference.
//
//   only in the previous record (deleted), when deleted items are deduced:
//     - a path of this job's failure list: nothing (it could not be read, it is not gone);
//     - an item whose previous record has a backup frequency while the scan callback ignores
//       full-only items: kept in the owner's full-only list (put back into the record later);
//     - otherwise "??d" (file) or "??D" (folder) and the escaped path, no trailing '/', written
//       to the deleted-items collect file ("Deleted File: %s", "Deleted Folder: %s"). The
//       comparison does not go below a deleted folder unless full-only items may lie there;
//   only in this job's record (new), when new items are deduced:
//     - selected in this job: already in a collect file;
//     - found again on disk (lstat of its path; absent: "Skipping new file '%s', it does not
//       exists", other errors: "Skipping new file '%s', error %s finding file");
//     - not ACL only and new by the times the evaluator uses (write time with "JO:MTIME",
//       change time with "JO:CTIME", at or after the job's reference time): already taken;
//     - otherwise its line (escaped path, '/' for a folder, no size) goes to the deleted-items
//       collect file and its record is rewritten as selected in that file;
//   in both, with identify-ACL-only on: a record that is ACL only and not selected is added
//   like a new item ("ACL only item [%s]"); everything else is left alone.
// A write failure raises event 0x11000028 and stops the comparison with the error.
//
// Ownership: made per comparison by CPostProcessDirChange, which outlives it. Thread: the
// comparison calls it on the job's main thread, one call at a time.
#include "Base/TimeStamp.h"
#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"

#include <memory>
#include <string>
#include <unordered_set>

class CIncrFlatCollectFile;
class CScanJobCallback;
class CPostProcessDirChange;

class CDeletedItemCallback : public CPathCacheFlatFileIndexCompareCallback {
public:
    // The deleted-items collect file is asked of `callback` at the first line to write, so a
    // job without differences makes none.
    CDeletedItemCallback(long long jobId, unsigned long backupType, bool deduceDeletedItems, bool deduceNewItems,
                         CScanJobCallback& callback, CPostProcessDirChange* owner);
    ~CDeletedItemCallback() override;

    void SetIdentifyACLOnly(bool on) { m_identifyACLOnly = on; }
    // Paths that get no deletion line (this job's failure list).
    void SetSkippedPaths(const std::unordered_set<std::string>* paths) { m_skipped = paths; }

    [[nodiscard]] CKxError OnInIndex1(const std::string& path, bool isFile, const FVBasePtr& first) override;
    [[nodiscard]] CKxError OnInIndex2(const std::string& path, bool isFile, const FVBasePtr& second) override;
    [[nodiscard]] CKxError OnInBothIndexes(const std::string& path, bool isFile, const FVBasePtr& first,
                                           const FVBasePtr& second) override;
    // Only ACL-only identification has work for items found in both records.
    bool WantsInBothIndexes() const override { return m_identifyACLOnly; }
    [[nodiscard]] CKxError OnInIndex1RecurseIntoDeletedFolder(const std::string& path, const FVBasePtr& first,
                                                              bool& recurse) override;

    std::uint64_t GetDeletedCount() const { return m_deleted; }
    std::uint64_t GetAddedCount() const { return m_added; }

protected:
    // Records that an item the comparison added is in the deleted-items collect file
    // (`collectNumber`), so that a restarted scan finds it taken: here, into this job's record.
    [[nodiscard]] virtual CKxError RecordAdded(const std::string& path, bool isFile, const FVBasePtr& record,
                                               int collectNumber);

private:
    // Finds the item again and adds its line and record; `aclOnly` skips the time test.
    [[nodiscard]] CKxError AddItem(const std::string& path, bool isFile, const FVBasePtr& record, bool aclOnly);
    [[nodiscard]] CKxError Write(const std::string& line, bool deletion, std::uint64_t size);
    [[nodiscard]] CKxError OpenDeletedItems();
    bool IgnoresFullOnly() const;

    long long m_jobId;
    unsigned long m_backupType;
    std::shared_ptr<CIncrFlatCollectFile> m_deletedItems;
    int m_deletedItemsCollectNumber = 0;
    bool m_deduceDeletedItems;
    bool m_deduceNewItems;
    bool m_identifyACLOnly = false;
    CScanJobCallback& m_callback;
    CPostProcessDirChange* m_owner;
    const std::unordered_set<std::string>* m_skipped = nullptr;
    CTimeStamp m_referenceTime;
    bool m_useMTime = true;
    bool m_useCTime = true;
    std::uint64_t m_deleted = 0;
    std::uint64_t m_added = 0;
};
