#pragma once
// CPostOpsHandler: adds the phase parameters of post-backup operations. This agent runs no
// post-backup operations, so nothing is added.
//
// Ownership: shared. Thread: any thread.
#include <memory>
#include <string>

#include "Agent/BackupJobClient.h"

class CPostOpsHandler {
public:
    explicit CPostOpsHandler(CBackupJobClientPtr client);
    static std::shared_ptr<CPostOpsHandler> GetInstance(const CBackupJobClientPtr& client);

    // Appends this handler's parameters to `params` (none); always succeeds.
    [[nodiscard]] CKxError AddPostOpsPhaseParams(std::string& params);

private:
    CBackupJobClientPtr m_client;
};
