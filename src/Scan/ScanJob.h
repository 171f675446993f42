#pragma once
// CScanJob: the base of every scan job.
//
// A job holds its identity (id, token, application, client, backup type), its results
// folders, the objects it works with (callback, scanner options, file-name factory,
// post-processing options) and three outcome flags that the driver reads after the run.
// It fixes the order of a run: ProcessCommandLine once, then Process, which is Configure,
// Prepare and Run, and always Cleanup. Derived jobs override the steps and call the base step
// first where they extend it.
//
// Ownership: the factory creates the job; the driver and the job share it and its objects for
// the length of one CFileScan::Process call.
// Thread: every step runs on the driver's thread, one after the other. The outcome flags only
// ever go from false to true, except through SetFailJob.
#include "Base/KxError.h"
#include "Base/FunctionTrace.h"

#include <cstdint>
#include <memory>
#include <string>

class CCommandLineArguments;
using CCommandLineArgumentsPtr = std::shared_ptr<CCommandLineArguments>;
class CScanJobCallback;
using CScanJobCallbackPtr = std::shared_ptr<CScanJobCallback>;
class CScannerOptions;
using CScannerOptionsPtr = std::shared_ptr<CScannerOptions>;
class CFileNameFactory;
class CPostProcessingOptions;

class CScanJob {
public:
    CScanJob();
    virtual ~CScanJob();
    CScanJob(const CScanJob&) = delete;
    CScanJob& operator=(const CScanJob&) = delete;

    // The job's name in logs and messages; derived jobs append their own part.
    virtual std::string AsString() const;
    // Reads the job's identity and the options every job needs; the first missing one fails.
    [[nodiscard]] virtual CKxError ProcessCommandLine(const CCommandLineArgumentsPtr& args);
    // Configure, Prepare, Run; Cleanup always. A failure before Cleanup sets the fail-phase
    // flag; Cleanup's own error takes precedence in the result.
    [[nodiscard]] virtual CKxError Process();
    [[nodiscard]] virtual CKxError Configure();
    [[nodiscard]] virtual CKxError Prepare();
    [[nodiscard]] virtual CKxError Run();
    [[nodiscard]] virtual CKxError Cleanup();

    void SetInstance(const std::string& instance) { m_instance = instance; }
    void SetScanJobCallback(CScanJobCallbackPtr callback);
    void SetFailJob(bool failJob) { m_failJob = failJob; }
    void FailJob() { m_failJob = true; }
    void FailPhase() { m_failPhase = true; }
    // Fails the phase with the operator's one-line reason (the first reason given is kept).
    void FailPhase(const std::string& reason)
    {
        m_failPhase = true;
        if (m_phaseFailureReason.empty())
            m_phaseFailureReason = reason;
    }
    const std::string& GetPhaseFailureReason() const { return m_phaseFailureReason; }
    // Writes "JR:client": the focus client's job-results directory.
    [[nodiscard]] CKxError SetJobResultsDir();

    std::int64_t GetJobId() const { return m_jobId; }
    const std::string& GetJobToken() const { return m_jobToken; }
    std::uint32_t GetBackupType() const { return m_backupType; }
    const std::string& GetApplicationId() const { return m_applicationId; }
    std::uint32_t GetOrbundId() const { return m_orbundId; }
    std::uint32_t GetApplicationNumber() const { return m_applicationNumber; }
    const std::string& GetClientName() const { return m_clientName; }
    const std::string& GetInstance() const { return m_instance; }
    const std::string& GetResultFolderForJob() const { return m_jobResultsFolder; }
    const std::string& GetResultFolderForSubclient() const { return m_subclientResultsFolder; }
    CScanJobCallbackPtr GetScanJobCallback() const { return m_callback; }
    CScannerOptionsPtr GetScannerOptions() const { return m_scannerOptions; }
    std::shared_ptr<CFileNameFactory> GetFileNameFactory() const { return m_fileNameFactory; }
    std::shared_ptr<CPostProcessingOptions> GetPostProcessingOptions() const { return m_postProcessingOptions; }
    bool isFailJobSet() const { return m_failJob; }
    bool isFailPhaseSet() const { return m_failPhase; }
    bool isCompleteJobNowSet() const { return m_completeJobNow; }
    bool IsDistributedPackage() const { return m_distributedPackage; }
    bool IsSnapTape() const { return m_snapTape; }
    bool IsPrevJobValid() const { return m_prevJobValid; }

protected:
    // Set by a step that found nothing to back up: the job ends in the scan phase.
    void CompleteJobNow() { m_completeJobNow = true; }
    // Creates `folder` when it does not exist yet (Analytics and migration result folders).
    [[nodiscard]] static CKxError EnsureFolder(const std::string& folder);

    std::string m_instance;
    std::int64_t m_jobId = 0;
    std::string m_jobToken;
    std::uint32_t m_backupType = 0;
    std::string m_applicationId;
    std::uint32_t m_orbundId = 0;
    std::uint32_t m_applicationNumber = 0;
    std::string m_clientName;
    bool m_failJob = false;
    bool m_failPhase = false;
    std::string m_phaseFailureReason;
    bool m_completeJobNow = false;
    CScanJobCallbackPtr m_callback;
    std::shared_ptr<CFileNameFactory> m_fileNameFactory;
    std::shared_ptr<CPostProcessingOptions> m_postProcessingOptions;
    CScannerOptionsPtr m_scannerOptions;
    std::string m_jobResultsFolder;
    std::string m_subclientResultsFolder;
    bool m_incrementalImage = false;
    bool m_distributedPackage = false;
    std::int64_t m_lastJobId = 0;
    bool m_snapTape = false;
    bool m_prevJobValid = false;

private:
    std::unique_ptr<CFunctionTrace> m_trace;  // the job's lifetime in the trace log
};

using CScanJobPtr = std::shared_ptr<CScanJob>;
