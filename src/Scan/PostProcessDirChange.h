#pragma once
// CPostProcessDirChange: after the walk, compares the job's directory-change record with the
// previous job's and acts on the differences through a CDeletedItemCallback: deleted items
// become deletion lines, new items the evaluator did not take are added, metadata-only items
// are added; then every output stage's record buffer is closed and items kept only for full
// backups are put back into the record.
//
// Run, in order:
//   0. Every buffer is flushed (collect files, failure list, record buffers), so the
//      comparison sees everything this job recorded. Every path in this job's failure list
//      ("scan_Failures.zvf") is carried forward from the previous record (a folder with all
//      below it) and gets no deletion line: what we could not read is not gone.
//   1. A full backup without deleted-item detection compares nothing.
//   2-4. When the reference record (the one the job was evaluated against) was loaded, the
//      record is compared with it: new items are deduced except in a full backup, deleted
//      items with detection on, except in a differential whose reference is not the previous
//      job's record. Otherwise "not comparing with previous dir change [%s] since it is not
//      found" (a missing, truncated or corrupt file counts as not found).
//   6. Every stage's record buffer is closed ("compacting dirchange"), full-only items go back.
//   5. A differential with detection whose reference is not the previous job's record: the
//      record is closed and compared with the previous job's file for deleted items only (a
//      file that cannot be loaded is logged and skipped). This runs after step 6 because it
//      reads the closed record.
// Deletion lines and added items go to the job's deleted-items collect file (one per job,
// its own output resource, never split), made at its first line.
//
// Ownership: made by the callback (GetPostProcessDirChangeInterface) with a snapshot of the
// output resources. Thread: the job's main thread, after the walk.
#include "Base/KxError.h"
#include "CollectFile/FVBase.h"
#include "Scan/DirChangeComparison.h"
#include "Scan/IPostProcessDirChange.h"
#include "Scan/OutputResources.h"

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class CPostProcessDirChange : public IPostProcessDirChange {
public:
    // An item only in the previous record that is kept for full backups rather than deleted.
    struct CFullOnlyDirChangeInfo {
        std::string path;
        bool isFile = true;
        FVBasePtr record;
    };

    CPostProcessDirChange(std::vector<COutputResourcesPtr> outputResources, SDirChangeComparison job);
    ~CPostProcessDirChange() override;

    [[nodiscard]] CKxError Run(CScanJobCallback& callback) override;
    // Puts the full-only items back into the job's record.
    [[nodiscard]] CKxError ProcessFullOnlyItems();

    void AddFullOnlyItem(CFullOnlyDirChangeInfo item) { m_fullOnlyItems.push_back(std::move(item)); }
    const std::vector<CFullOnlyDirChangeInfo>& GetFullOnlyItems() const { return m_fullOnlyItems; }
    // The paths of this job's failure list (after Run began).
    const std::unordered_set<std::string>& GetFailedPaths() const { return m_failedPaths; }
    bool IsDeletedItemDetection() const { return m_job.deletedItemDetection; }

    // Reads a failure list: one "<kind> <escaped path>:<code>" per line. A missing file is an
    // empty list; a line that cannot be read is logged and skipped.
    [[nodiscard]] static CKxError ReadFailedPaths(const std::string& failuresPath, std::unordered_set<std::string>& paths);

private:
    [[nodiscard]] CKxError CarryForwardFailures(CScanJobCallback& callback);
    [[nodiscard]] CKxError CloseStages();

    std::vector<COutputResourcesPtr> m_outputResources;
    SDirChangeComparison m_job;
    std::vector<CFullOnlyDirChangeInfo> m_fullOnlyItems;
    std::unordered_set<std::string> m_failedPaths;
};

using CPostProcessDirChangePtr = std::shared_ptr<CPostProcessDirChange>;
