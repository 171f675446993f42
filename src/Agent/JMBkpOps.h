#pragma once
// JMBkpOps: backup operations on a job that go beyond the phase report.
//
// Ownership: shared; holds its job-manager client. Thread: any thread.
#include <memory>

#include "Agent/BackupJobClient.h"

class JMBkpOps {
public:
    explicit JMBkpOps(CBackupJobClientPtr client);

    // Records that the backup index was queried for incomplete large files.
    [[nodiscard]] CKxError setIndexQueriedForIncompleteLargeFiles(bool value = true);

private:
    CBackupJobClientPtr m_client;
};

using JMBkpOpsPtr = std::shared_ptr<JMBkpOps>;
