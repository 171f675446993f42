#pragma once
// CBackupJobClient: the job-manager client of one job. Every call appends one JSON object
// line to the job's journal (CJobJournal), keys in the order shown:
//
//   {"call":"setNumStreams","streams":2}
//   {"call":"concatPhaseParams","params":"-r 5","action":"JMCONCAT"}   (3 JMSTRSET, 2 JMCONCAT,
//                                                                        1 JMNULLIFY, else "??")
//   {"call":"updateInfo"}
//   {"call":"setReferenceTime","time":1700000000}
//   {"call":"setUncompBytesToXfer","bytes":4096}
//   {"call":"setUnCompBytesToAdd","bytes":4096}
//   {"call":"addFilesIndexed","count":100}
//   {"call":"addScanFileFailures","count":3}
//   {"call":"complete","status":1,"for":1}         (status 1 completed, 2 failed, 3 completed
//                                                   with errors; for 1 phase, 2 job; a failure
//                                                   may end with "message":"<reason>")
//   {"call":"setPendingCause","id":318767961,"args":["text"]}
//   {"call":"setPendingCauseAndCriticalEvent","id":285212682,"args":["text"]}
//   {"call":"jobAlive"}
//   {"call":"setIndexQueriedForIncompleteLargeFiles","value":true}   (through JMBkpOps)
//
// The outcome line ("complete") is synced to disk before complete returns (CJobJournal).
// Calls return CKxError; a failure (only through CJobManagerFaults, or a journal that cannot
// be written) writes no line and sets getLastErrorNumber/getLastErrorText.
//
// Ownership: shared (CBackupJobClientPtr). Thread: any thread (the alive thread calls
// jobAlive while the main thread reports); the call counter and last error are guarded by
// m_stateLock.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Agent/JobJournal.h"
#include "Agent/JobManagerFaults.h"
#include "Base/KxError.h"

class CBackupJobClient {
public:
    // Concatenation actions of concatPhaseParams.
    enum EConcatAction { JMNULLIFY = 1, JMCONCAT = 2, JMSTRSET = 3 };

    // Null when there is no focus or the JobManager folder cannot be created. `reserved`,
    // `platformType` (4) and `flag` are accepted for the callers' sake and not used.
    static std::shared_ptr<CBackupJobClient> createInstance(const std::string& server, int64_t jobId, int reserved,
                                                            int platformType, bool flag, const std::string& token);
    CBackupJobClient(std::string server, int64_t jobId, std::string token, CJobManagerFaults::Plan plan);
    virtual ~CBackupJobClient() = default;

    virtual CKxError setNumStreams(int streams);
    virtual CKxError concatPhaseParams(const std::string& params, int action);
    virtual CKxError updateInfo();
    virtual CKxError setReferenceTime(int64_t seconds);
    virtual CKxError setUncompBytesToXfer(uint64_t bytes);
    virtual CKxError setUnCompBytesToAdd(uint64_t bytes);
    virtual CKxError addFilesIndexed(uint64_t count);
    virtual CKxError addScanFileFailures(uint64_t count);
    // `message`: the operator's one-line reason for a failure; an empty one is not recorded.
    virtual CKxError complete(int status, int statusFor, const std::string& message = {});
    virtual CKxError setPendingCause(uint32_t eventMessageId, const std::vector<std::string>& args);
    virtual CKxError setPendingCauseAndCriticalEvent(uint32_t eventMessageId, const std::vector<std::string>& args);
    virtual CKxError jobAlive();
    virtual CKxError setIndexQueriedForIncompleteLargeFiles(bool value);

    int getLastErrorNumber() const;
    std::string getLastErrorText() const;

    int64_t getJobId() const { return m_jobId; }
    const std::string& getServerName() const { return m_server; }
    const std::string& getJobToken() const { return m_token; }
    static const char* ActionName(int action);

protected:
    // Counts the call, applies the fault plan, appends the line; records the last error.
    CKxError Record(const char* call, const std::string& jsonObject,
                    CJobJournal::EDurability durability = CJobJournal::EDurability::Appended);

private:
    std::string m_server;
    int64_t m_jobId;
    std::string m_token;
    CJobManagerFaults::Plan m_plan;
    mutable std::mutex m_stateLock;  // guards m_calls, m_lastErrorNumber, m_lastErrorText
    size_t m_calls = 0;
    int m_lastErrorNumber = 0;
    std::string m_lastErrorText;
};

using CBackupJobClientPtr = std::shared_ptr<CBackupJobClient>;
