#pragma once
// ZVJobCtrlClient: the job-control side of the job manager: the quit flag and the end of work.
//
// The job was told to quit when the file JobManager/<jobId>.quit exists under the focused
// instance (its content does not matter). finishedWorkWithoutExit appends
// {"call":"finishedWorkWithoutExit","ms":120000} to the job's journal.
//
// The job manager's error-decision rules for a client and application type are the text of
// JobManager/ErrorRules/<clientId>_<appType>.xml under the focused instance
// (docs/error-rules.md); a missing file means no rules are defined (error ENOENT).
//
// Ownership: shared. Thread: any thread.
#include <cstdint>
#include <memory>
#include <string>

#include "Base/KxError.h"

class ZVJobCtrlClient {
public:
    explicit ZVJobCtrlClient(int64_t jobId);
    virtual ~ZVJobCtrlClient() = default;

    // Keeps the token; fails with 87 for an empty token.
    [[nodiscard]] virtual CKxError initJobControl(const std::string& token);
    virtual bool checkQuitFlag() const;
    [[nodiscard]] virtual CKxError finishedWorkWithoutExit(uint32_t milliseconds);
    [[nodiscard]] virtual CKxError getJobErrorRules(uint64_t clientId, unsigned long appType,
                                                    std::string& rules) const;

    int64_t getJobId() const { return m_jobId; }

private:
    int64_t m_jobId;
    std::string m_token;
};

using ZVJobCtrlClientPtr = std::shared_ptr<ZVJobCtrlClient>;
