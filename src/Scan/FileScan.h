#pragma once
// CFileScan: the entry of the scan library. The scan process builds one with its parsed
// command line and calls Process once with a job factory: Process runs the whole scan phase
// of one backup job and is the only place that tells the job manager how the phase ended
// (streams, size, next-phase arguments, completion or failure).
//
// Ownership: the scan process owns the object; the job-manager client is created inside
// Process and kept for the object's lifetime; the job and its callback live for one pass of
// Process and are released when it returns.
// Thread: Process runs on the scan process's main thread and blocks until the job is done.
#include "Agent/BackupJobClient.h"
#include "Agent/CommandLineArguments.h"
#include "Base/KxError.h"
#include "Scan/ScanJobFactory.h"
#include "Scan/ScanJobType.h"

#include <cstdint>
#include <memory>
#include <string>

class CScannerOptions;

class CFileScan {
public:
    explicit CFileScan(std::shared_ptr<CCommandLineArguments> args);
    virtual ~CFileScan();
    CFileScan(const CFileScan&) = delete;
    CFileScan& operator=(const CFileScan&) = delete;

    // Runs the scan phase. Returns an error only when the job manager could not be told the
    // outcome (a failure before its client exists, or a final report that did not go through)
    // and for the virtual-server analytics type, which reports nothing itself.
    [[nodiscard]] virtual CKxError Process(CScanJobFactoryPtr factory);

    // Types this scanner refuses so that the scan process falls back to its older scanner.
    bool UnSupportedType(EScanJobType type);
    // Types that run here even without index version 2.
    bool AllowToRunNewScanIndexV1(EScanJobType type);
    bool IsIndexV2();
    static bool IsFileServerScan(int clientAppType);
    static bool IsDistributedClusterScan(int distributedAppType);
    bool IsTrueUpArgumentRequired(const std::shared_ptr<CScannerOptions>& options);

    CBackupJobClientPtr GetJobClient() const { return m_jobClient; }
    // The one-line reason the job manager was given when the phase failed on an application
    // configuration that does not load (a syntax error, or a value of the wrong type or out of
    // range: file, key, value, what was expected); empty otherwise. The scan process repeats it
    // on standard error.
    const std::string& GetConfigurationFailure() const { return m_configurationFailure; }

private:
    // Job id, token, client name and job-manager client: what telling the job manager needs.
    [[nodiscard]] CKxError ConnectJobManager(std::int64_t& jobId, std::string& clientName);
    // Fails the phase with the configuration's error as the job manager's message.
    [[nodiscard]] CKxError ReportConfigurationFailure(const CKxError& cause);

    CBackupJobClientPtr m_jobClient;
    std::string m_configurationFailure;
    std::shared_ptr<CCommandLineArguments> m_args;
};

using CFileScanPtr = std::shared_ptr<CFileScan>;
