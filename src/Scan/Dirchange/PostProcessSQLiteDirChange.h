#pragma once
// CPostProcessSQLiteDirChange: after the walk, compares this job's database with the previous
// job's and acts on the differences (CContentContainerComparisonCallback), as the text record's
// step does (PostProcessDirChange.h):
//   0. every buffer is flushed, the stages' queues written; every path of this job's failure
//      list is carried forward from the reference database (a folder with all below it): it
//      could not be read, it is not gone, and the next job takes it whole once it is back;
//   1. a full backup without deleted-item detection compares nothing;
//   2. with the reference database present, the comparison: new files in every non-full job,
//      deleted items with detection on, except in a differential whose reference (the last
//      full's "DirChangeFull.db") is not the previous job's database: that one finds its
//      deleted items against the previous job's database in a second comparison;
//   3. the files the comparison added get their collect mark, once it finished iterating.
// Deletion lines and added files go to the job's deleted-items collect file.
//
// Ownership: made by the callback. Thread: the job's main thread, after the walk.
#include "ContentContainer/ContentContainer.h"
#include "Scan/DirChangeComparison.h"
#include "Scan/IPostProcessDirChange.h"
#include "Scan/OutputResources.h"

#include <string>
#include <vector>

class CContentContainerComparisonCallback;

class CPostProcessSQLiteDirChange : public IPostProcessDirChange {
public:
    CPostProcessSQLiteDirChange(CX::CContentContainerPtr store, SDirChangeComparison job);
    ~CPostProcessSQLiteDirChange() override;

    [[nodiscard]] CKxError Run(CScanJobCallback& callback) override;

private:
    [[nodiscard]] CKxError Compare(const std::string& previous, CContentContainerComparisonCallback& compare);
    [[nodiscard]] CKxError MarkCollected(const std::vector<std::string>& paths);

    CX::CContentContainerPtr m_store;
    SDirChangeComparison m_job;
};
