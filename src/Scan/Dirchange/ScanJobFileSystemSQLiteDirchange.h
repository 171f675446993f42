#pragma once
// CScanJobFileSystemSQLiteDirchange: the file-system job (type 5 with the agent setting
// "nUseSQLiteDirchange" 1) that keeps its directory-change record in a database
// ("DirChangePending.db" while it runs; the backup phase keeps it as "DirChangeFull.db" or
// "DirChangeIncremental.db"). Its steps differ from the file-system job's in three places:
//   preparation: a pending database a failed job left is removed (unless this job retries
//     the same scan, "SC:RetryScanAttempt"), so that no stale entry hides a deletion; the
//     database is opened and handed to the callback; the previous database (the full's
//     after a full, else the incremental's; a differential's reference is always the full's)
//     becomes the evaluators' lookup. A missing or unreadable one is logged, raised as the
//     text record's is, and every item the times leave behind is taken;
//   post-processing: CPostProcessSQLiteDirChange (through the callback);
//   closing: the stages' queues are written and the database closed and synced.
//
// Thread: main thread, as the file-system job.
#include "ContentContainer/ContentContainer.h"
#include "ContentContainer/ContentContainerDirChange.h"
#include "Scan/ScanJobFileSystem.h"

class CScanJobFileSystemSQLiteDirchange : public CScanJobFileSystem {
public:
    CScanJobFileSystemSQLiteDirchange();
    ~CScanJobFileSystemSQLiteDirchange() override;

    [[nodiscard]] CKxError Cleanup_CloseDirchange() override;

protected:
    [[nodiscard]] CKxError PrepareDirChange(const CBag& bag) override;

private:
    CX::CContentContainerPtr m_store;
};
