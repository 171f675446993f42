#include "Scan/FileScan.h"

#include "Agent/ApplicationId.h"
#include "Agent/Arguments.h"
#include "Agent/EvEvent.h"
#include "Agent/IndexingVersion.h"
#include "Agent/JMBkpOpsFactory.h"
#include "Agent/PostOpsHandler.h"
#include "Agent/ServiceMonitor.h"
#include "Agent/XJob.h"
#include "Agent/ZVJobCtrlClient.h"
#include "Agent/ZVPI_Focus.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Base/TimeStamp.h"
#include "Scan/ScannerSettings.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"

#include <cstdio>

namespace Id = SXScannerConfigurationBagId;

namespace {
constexpr int kJobStatusCompleted = 1;
constexpr int kJobStatusFailed = 2;
constexpr int kJobStatusCompletedWithErrors = 3;
constexpr int kStatusForPhase = 1;
constexpr int kStatusForJob = 2;

constexpr std::uint32_t kEventJobCompletedInScan = 0x11000040;
constexpr std::uint32_t kEventContentFailedCompletedInScan = 0x1100008a;
constexpr int kPlatformTypeUnix = 4;
constexpr std::uint32_t kFinishWorkWaitMs = 120000;

CKxError MissingOption(const char* name)
{
    return CKxError(KxCode::InvalidParameter, KxFormat("GetOption failed, Option=%s", name));
}

// One Process call: the state the steps share, and the steps after the job ran.
class CProcessRun {
public:
    CProcessRun(CFileScan& scan, const CCommandLineArgumentsPtr& args, const CBackupJobClientPtr& client)
        : m_scan(scan), m_args(args), m_client(client)
    {
    }

    CKxError RunJobLoop(CScanJobFactory& factory, EScanJobType type);
    // Steps 11 and 13 to 16: what the job manager is told. Returns false when the final
    // report itself did not reach the job manager.
    bool Report(CKxError& error);
    void FinishWork(const CKxError& error);

    EScanJobType m_type;
    std::string m_clientName;
    CScanJobPtr m_job;
    CScanJobCallbackPtr m_callback;
    std::shared_ptr<CScannerOptions> m_options;

private:
    CKxError PreparePass(CScanJobFactory& factory);
    CKxError ReportScanFailures();
    CKxError CompleteInScan();
    enum class EOutcome { Told, NotTold, Failed };
    // Next-phase report: Told or NotTold once `complete` was called; Failed when the phase
    // failed on the way (`error` set, or the job's fail-phase flag) and the failure report
    // must run.
    EOutcome ReportNextPhase(CKxError& error);
    bool ReportFailure(const CKxError& error);
    bool Complete(int status, int statusFor, const std::string& message = {});
    CBagPtr Bag() const { return m_options ? m_options->GetConfigurationBag() : nullptr; }
    bool ToldToQuit() const
    {
        std::shared_ptr<ZVJobCtrlClient> control = m_callback ? m_callback->GetJobControlClient() : nullptr;
        return control && control->checkQuitFlag();
    }

    CFileScan& m_scan;
    CCommandLineArgumentsPtr m_args;
    CBackupJobClientPtr m_client;
    CTimeStamp m_scanStartTime;
    bool m_cloudLaptop = false;
    bool m_retry = false;
    bool m_completedInScan = false;
    int m_statusFor = kStatusForPhase;
};

CKxError CProcessRun::PreparePass(CScanJobFactory& factory)
{
    m_job = factory.CreateScanJob(m_type);
    if (!m_job)
        return CKxError(KxCode::OutOfMemory, KxFormat("Failed to create scan job object; terminating, ScanJobType=%s",
                                                      m_type.AsString().c_str()));
    m_callback = factory.CreateScanJobCallback(m_type);
    if (!m_callback)
        return CKxError(KxCode::OutOfMemory,
                        KxFormat("Failed to create scan job callback object; terminating, ScanJobType=%s",
                                 m_type.AsString().c_str()));
    m_job->SetScanJobCallback(m_callback);
    m_options.reset();
    KX_RETURN_IF_ERROR(m_callback->GetScannerOptionsInstance(m_options));
    if (!m_options || !m_options->GetConfigurationBag())
        return CKxError(KxCode::ObjectNotFound, "Scanner options object not found.");
    CBag& bag = *m_options->GetConfigurationBag();

    KX_RETURN_IF_ERROR(bag.Write(Id::idJobType, m_type.Value()));
    if (m_args->GetOption("snaptape") && m_args->GetOption("dcs")) {
        KX_RETURN_IF_ERROR(bag.Write(Id::idSnapBackupWithoutSnapCatalog, true));
        FSLOG(3, "The Scanner option [%s] is enabled", Id::idSnapBackupWithoutSnapCatalog);
    }
    unsigned long appType = 0;
    KX_RETURN_IF_ERROR(factory.GetAppType(m_args, appType));
    KX_RETURN_IF_ERROR(bag.Write(Id::idAppType, static_cast<unsigned int>(appType)));

    KX_RETURN_IF_ERROR(m_job->ProcessCommandLine(m_args));

    long long startTime = 0;
    if (bag.Read(Id::idScanStartTime, startTime).IsSuccess()) {
        m_scanStartTime = CTimeStamp(startTime);
        FSLOG(0, "Scan Start Time is set to %s||%lld", m_scanStartTime.AsLocalString().c_str(), startTime);
    } else {
        m_scanStartTime = CTimeStamp::Now();
        startTime = m_scanStartTime.Seconds();
        KX_RETURN_IF_ERROR(bag.Write(Id::idScanStartTime, startTime));
        FSLOG(0, "Scan Start Time is %s||%lld", m_scanStartTime.AsLocalString().c_str(), startTime);
    }
    KX_RETURN_IF_ERROR(bag.Write(Id::idClientName, m_clientName));
    if (m_args->GetOption("POC")) {
        FSLOG(0, "Received POC mode in command line param");
        KX_RETURN_IF_ERROR(bag.Write(Id::isTandemPOCMode, true));
    }
    if (m_args->GetOption("clb"))
        m_cloudLaptop = true;
    KX_RETURN_IF_ERROR(bag.Write(Id::idCloudLaptopBackup, m_cloudLaptop));
    if (m_args->GetOption("amr")) {
        FSLOG(0, "Received auto-mount-required on command line");
        KX_RETURN_IF_ERROR(bag.Write(Id::idAutoMountRequired, true));
    }
    if (m_retry) {
        KX_RETURN_IF_ERROR(bag.Write(Id::idFileServerTrueUp, true));
        KX_RETURN_IF_ERROR(bag.Write(Id::idRetryScanAttempt, true));
        m_retry = false;
    }
    return CKxError::Success();
}

CKxError CProcessRun::RunJobLoop(CScanJobFactory& factory, EScanJobType type)
{
    m_type = type;
    for (;;) {
        KX_RETURN_IF_ERROR(PreparePass(factory));

        const int unused = m_args->GetUnusedCount();
        if (unused > 0)
            FSLOG(2, "There are %d unused arguments", unused);
        FSLOG(0, "Running ScanType - [%s] CallbackType - [%s]", m_job->AsString().c_str(),
              m_callback->AsString().c_str());
        CKxError result = m_job->Process();

        CBagPtr bag = Bag();
        m_retry = bag && bag->GetBool(Id::idRestartScanForFileServerTrueUp);
        if (result.IsError())
            FSLOG(0, "Process (%s)", result.AsString().c_str());
        if (!m_retry)
            return result;
        FSLOG(0, "Received option to Retry FileServer Scan with True-Up enabled");
    }
}

CKxError CProcessRun::ReportScanFailures()
{
    CScanFailureConsumerPtr failures;
    KX_RETURN_IF_ERROR(m_callback->GetScanFailureConsumer(failures));
    if (failures)
        KX_RETURN_IF_ERROR(m_client->addScanFileFailures(failures->getProcessedItemsCount()));
    return CKxError::Success();
}

CKxError CProcessRun::CompleteInScan()
{
    if (m_callback->shouldOverrideScanReftTime()) {
        m_scanStartTime = m_callback->getScanReftTime();
        FSLOG(0, "Overriding Scan Start Time with %lld (%s)", static_cast<long long>(m_scanStartTime.Seconds()),
              m_scanStartTime.AsLocalString().c_str());
    }
    CKxError update = m_client->setReferenceTime(m_scanStartTime.Seconds());
    if (update.IsSuccess())
        update = m_client->updateInfo();
    if (update.IsError()) {
        FSLOG_ERROR("Error setting reference time to [%lld] for empty incremental job.",
                    static_cast<long long>(m_scanStartTime.Seconds()));
        return std::move(update.Push(KxFormat("Error updating Job Manager: %d:%s", m_client->getLastErrorNumber(),
                                              m_client->getLastErrorText().c_str())));
    }
    if (!m_cloudLaptop) {
        CKxError event = EvEvent::Raise(kEventJobCompletedInScan, EvEvent::Information,
                                        "There are no files that need to be backed up. Finishing the job in the "
                                        "file scan phase.");
        if (event.IsError())
            FSLOG_ERROR("%s", event.AsString().c_str());
    }
    m_statusFor = kStatusForJob;
    m_completedInScan = true;
    return CKxError::Success();
}

// Wraps the job manager's own failure into a Win32 "aborted" error the failure report can show.
CKxError JobManagerError(CKxError error, const CBackupJobClient& client)
{
    return std::move(error.Push(
        KxFormat("Error updating Job Manager: %d:%s", client.getLastErrorNumber(), client.getLastErrorText().c_str())));
}

CProcessRun::EOutcome CProcessRun::ReportNextPhase(CKxError& error)
{
    FSLOG(2, "Process (%d)", 0);
    int streams = m_callback->GetNumStreams();
    if (streams != -1) {
        if (streams == 0) {
            FSLOG(0, "Changing required streams from 0 to 1");
            streams = 1;
        } else {
            FSLOG(0, "Setting required streams to [%d]", streams);
        }
        error = m_client->setNumStreams(streams);
        if (error.IsError()) {
            error = JobManagerError(std::move(error), *m_client);
            return EOutcome::Failed;
        }
    }

    std::string arguments;
    int action = 0;
    error = m_callback->GetNextPhaseArguments(arguments, action);
    if (error.IsError()) {
        error.Push("Failed to get next phase arguments");
        return EOutcome::Failed;
    }

    const std::uint64_t totalSize = m_callback->GetTotalBackupSize();
    if (totalSize != 0 && m_type != EScanJobType::eArchiving && m_type != EScanJobType::eFileAnalytics) {
        FSLOG(0, "Updating JM with TotalSizeOfBackup = %llu", static_cast<unsigned long long>(totalSize));
        CKxError result = m_client->setUncompBytesToXfer(totalSize);
        if (result.IsSuccess())
            result = m_client->updateInfo();
        if (result.IsError()) {
            FSLOG_ERROR("Failed to update application size to JM, error=%s", result.AsString().c_str());
            m_job->FailPhase();
            return EOutcome::Failed;
        }
    }

    FSLOG(2, "Process (%d)", 0);
    if (arguments.find("-r") == std::string::npos)
        arguments += KxFormat(" -r %lld", static_cast<long long>(m_scanStartTime.Seconds()));
    if (m_scan.IsTrueUpArgumentRequired(m_options))
        arguments += " -TrueUp ";
    CBagPtr bag = Bag();
    if (bag && bag->GetBool(Id::idSkipBackupPhase))
        arguments += " -SBP";

    std::shared_ptr<CPostOpsHandler> postOps = CPostOpsHandler::GetInstance(m_client);
    if (postOps) {
        error = postOps->AddPostOpsPhaseParams(arguments);
        if (error.IsError()) {
            error.Push("Failed to add post-operation phase parameters");
            return EOutcome::Failed;
        }
    }

    FSLOG(0, "concatPhaseParams(%s,%s:%d)", arguments.c_str(), CBackupJobClient::ActionName(action), action);
    CKxError result = m_client->concatPhaseParams(arguments, action);
    if (result.IsSuccess())
        result = m_client->updateInfo();
    if (result.IsError()) {
        FSLOG_ERROR("Failed to update phase parameters to JM, error=%s", result.AsString().c_str());
        m_job->FailPhase();
        return EOutcome::Failed;
    }

    if (m_completedInScan && m_callback->IsSCContentFailed()) {
        const std::string message =
            "There are no files that need to be backed up. Finishing the job in the file scan phase." +
            std::string(12, '\t') + "One or more subclient contents failed - Marking phase as completed with error.";
        CKxError event = EvEvent::Raise(kEventContentFailedCompletedInScan, EvEvent::Major, message);
        if (event.IsError())
            FSLOG_ERROR("%s", event.AsString().c_str());
        FSLOG(0, "%s", message.c_str());
        return Complete(kJobStatusCompletedWithErrors, m_statusFor) ? EOutcome::Told : EOutcome::NotTold;
    }
    if (m_callback->DidQueryIndexForIncompleteFilesSucceed()) {
        FSLOG(0, "Updating the JM that backup of incomplete large files was successful.");
        JMBkpOpsPtr operations = JMBkpOpsFactory::allocObj(m_client);
        if (!operations || operations->setIndexQueriedForIncompleteLargeFiles().IsError())
            FSLOG_ERROR("Failed to update JM with flag IndexQueriedForIncompleteLargeFiles.");
    }
    return Complete(kJobStatusCompleted, m_statusFor) ? EOutcome::Told : EOutcome::NotTold;
}

bool CProcessRun::Complete(int status, int statusFor, const std::string& message)
{
    CKxError result = m_client->complete(status, statusFor, message);
    if (result.IsError()) {
        FSLOG_ERROR("complete(%d, %d) failed, error=%s", status, statusFor, result.AsString().c_str());
        return false;
    }
    return true;
}

bool CProcessRun::ReportFailure(const CKxError& error)
{
    if (!m_job) {
        FSLOG_ERROR("Process (%d)-[%s]", error.IsError() ? 1 : 0, error.AsString().c_str());
        if (ToldToQuit())
            return true;
        return Complete(kJobStatusFailed, kStatusForPhase);
    }
    const char* label = m_job->isFailJobSet() ? "Job failure" : m_job->isFailPhaseSet() ? "Phase failure" : "Error";
    FSLOG_ERROR("%s reported : %s", label, error.AsString().c_str());

    const long code = error.Code();
    if (((code >> 16) & 0xC00) == 0x800) {
        // The error carries an operator-facing event message: it becomes the job's pending cause.
        const std::uint32_t eventMessage = static_cast<std::uint32_t>(code);
        std::vector<std::string> args;
        switch (eventMessage) {
        case 0x13000359:
        case 0x110000a8: args = {error.AsString()}; break;
        case 0x13000257: args = {"CLIENTSCAN", "", "", ""}; break;
        case 0x9000058: break;
        default: FSLOG_ERROR("Unexpected event messages [0x%X]", eventMessage); break;
        }
        CKxError pending = m_client->setPendingCause(eventMessage, args);
        if (pending.IsError())
            FSLOG_ERROR("%s", pending.AsString().c_str());
    }

    if (ToldToQuit()) {
        FSLOG(0, "error=%s", error.AsString().c_str());
        return true;
    }
    return Complete(kJobStatusFailed, m_job->isFailJobSet() ? kStatusForJob : kStatusForPhase,
                    m_job->GetPhaseFailureReason());
}

bool CProcessRun::Report(CKxError& error)
{
    CBagPtr bag = Bag();
    if (bag && m_job && bag->GetBool(Id::idFailJobSet))
        m_job->FailJob();

    if (error.IsSuccess() && m_job && m_callback)
        error = ReportScanFailures();

    if (error.IsSuccess() && m_job && m_job->isCompleteJobNowSet())
        error = CompleteInScan();

    if (error.IsSuccess() && m_job && !m_job->isFailJobSet() && !m_job->isFailPhaseSet()) {
        const EOutcome outcome = ReportNextPhase(error);
        if (outcome != EOutcome::Failed)
            return outcome == EOutcome::Told;
    }
    return ReportFailure(error);
}

void CProcessRun::FinishWork(const CKxError& error)
{
    std::shared_ptr<ZVJobCtrlClient> control = m_callback ? m_callback->GetJobControlClient() : nullptr;
    if (control) {
        CKxError finished = control->finishedWorkWithoutExit(kFinishWorkWaitMs);
        if (finished.IsError())
            FSLOG_ERROR("%s", finished.AsString().c_str());
    }
    if (error.IsError())
        FSLOG_ERROR("error=%s", error.AsString().c_str());
}
}  // namespace

CFileScan::CFileScan(std::shared_ptr<CCommandLineArguments> args) : m_args(std::move(args)) {}

CFileScan::~CFileScan() = default;

CKxError CFileScan::Process(CScanJobFactoryPtr factory)
{
    FSTRACE();
    if (!m_args || !factory)
        return CKxError(KxCode::InvalidParameter, "Process needs a command line and a job factory");

    std::string instance;
    if (!m_args->GetOption("vm", instance))
        return MissingOption("vm");
    std::printf("Instance=%s\n", instance.c_str());
    std::fflush(stdout);
    EvEvent::CreateProcessContext("fsweep");
    KX_RETURN_IF_FAILED(ZVPI_Focus::setFocus(instance), "Failed to focus on instance [%s]", instance.c_str());

    const EScanJobType type = factory->IdentifyScanJobType(m_args);
    if (type == EScanJobType::eUndetermined) {
        CKxError cause = factory->GetConfigurationError();
        // A configuration file the operator must mend (a syntax error, a value of the wrong type
        // or out of range) fails this job's phase, told to the job manager like any other
        // failure; a missing or unreadable file leaves no job to tell about.
        if (cause.Code() == KxCode::InvalidData)
            return ReportConfigurationFailure(cause);
        if (cause.IsError())
            return std::move(cause).Push("Failed to determine scan job type");
        return CKxError(KxCode::InvalidParameter, "Failed to determine scan job type");
    }
    if (UnSupportedType(type))
        return CKxError(KxCode::FallBackToOldScanner,
                        KxFormat("Scan job [%s] not supported in scan mode V2, yet", type.AsString().c_str()));
    if (!AllowToRunNewScanIndexV1(type) && !IsIndexV2())
        return CKxError(KxCode::FallBackToOldScanner,
                        KxFormat("IndexV2 is not enabled, scan will fallback to old method, ScanJobType=[%s]",
                                 type.AsString().c_str()));

    std::int64_t jobId = 0;
    std::string clientName;
    KX_RETURN_IF_ERROR(ConnectJobManager(jobId, clientName));

    CProcessRun pass(*this, m_args, m_jobClient);
    pass.m_clientName = clientName;
    CKxError error = pass.RunJobLoop(*factory, type);

    if (type == EScanJobType::eVirtualServerAnalytics)
        return error;

    const bool told = pass.Report(error);
    pass.FinishWork(error);
    if (!told)
        return CKxError(KxCode::OperationAborted,
                        KxFormat("The job manager was not told the outcome of job %lld", static_cast<long long>(jobId)));
    return CKxError::Success();
}

CKxError CFileScan::ConnectJobManager(std::int64_t& jobId, std::string& clientName)
{
    KX_RETURN_IF_FAILED(CArguments::GetJobId(m_args, jobId), "GetJobId failed");
    EvEvent::SetJobId(jobId);
    CKxError checkin = uxsvc_checkin(KxFormat("fsweep_%lld", static_cast<long long>(jobId)));
    if (checkin.IsError())
        FSLOG_ERROR("%s", checkin.AsString().c_str());

    std::string token;
    if (!m_args->GetOption("jt", token))
        return MissingOption("jt");
    if (!m_args->GetOption("cn", clientName))
        return MissingOption("cn");
    std::string server;
    KX_RETURN_IF_ERROR(CXJob::GetServerName(server));

    m_jobClient = CBackupJobClient::createInstance(server, jobId, 0, kPlatformTypeUnix, false, token);
    if (!m_jobClient)
        return CKxError(KxCode::OutOfMemory, "Failed to create the job manager client");
    return CKxError::Success();
}

CKxError CFileScan::ReportConfigurationFailure(const CKxError& cause)
{
    FSLOG_ERROR("Phase failure reported : %s", cause.AsString().c_str());
    std::int64_t jobId = 0;
    std::string clientName;
    KX_RETURN_IF_ERROR(ConnectJobManager(jobId, clientName));
    m_configurationFailure = cause.Message();
    if (m_jobClient->complete(kJobStatusFailed, kStatusForPhase, m_configurationFailure).IsError())
        return CKxError(KxCode::OperationAborted,
                        KxFormat("The job manager was not told the outcome of job %lld", static_cast<long long>(jobId)));
    return CKxError::Success();
}

bool CFileScan::UnSupportedType(EScanJobType type)
{
    switch (type) {
    case EScanJobType::eRejectedBackupSetKind:
    case EScanJobType::eDisasterRecoveryCopy:
    case EScanJobType::eQuillboxClient:
    case EScanJobType::eStubSynthFullJob:
        return true;
    case EScanJobType::eSnapDiffCatalog: {
        std::string value;
        if (ZVPlatformInfo::getString("FileSystemAgent", "sEnableV1ScanForSnapDiff", value) && !value.empty() &&
            (value[0] == 'y' || value[0] == 'Y')) {
            FSLOG(0, "Additional setting sEnableV1ScanForSnapDiff to enable V1 scan in present");
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

bool CFileScan::AllowToRunNewScanIndexV1(EScanJobType type)
{
    if (type == EScanJobType::eObjectStoreMigration)
        return true;
    std::string applicationIdText;
    CKxError error = CArguments::GetApplicationId(m_args, applicationIdText);
    if (error.IsError()) {
        FSLOG(0, "%s, will not allow to run new scan if IndexV2 is not in use", error.AsString().c_str());
        return false;
    }
    ApplicationId application(applicationIdText);
    error = application.getApplicationId();
    if (error.IsError()) {
        FSLOG(0, "getApplicationId failed, ApplicationId=%s, error=0x%X, will not allow to run new scan if IndexV2 is "
                 "not in use",
              applicationIdText.c_str(), static_cast<unsigned>(error.Code()));
        return false;
    }
    unsigned long appType = 0;
    error = application.getAppType(appType);
    if (error.IsError()) {
        FSLOG(0, "getAppType failed, ApplicationId=%s, error=0x%X, will not allow to run new scan if IndexV2 is not "
                 "in use",
              applicationIdText.c_str(), static_cast<unsigned>(error.Code()));
        return false;
    }
    switch (appType) {
    case 5: case 22: case 38: case 80: case 104: case 106: case 125: case 1000:
        return true;
    default:
        return false;
    }
}

bool CFileScan::IsIndexV2()
{
    std::uint64_t orbundId = 0, appNumber = 0;
    CKxError error = CArguments::GetOrbundAndAppId(m_args, orbundId, appNumber);
    if (error.IsError()) {
        FSLOG(0, "Failed to get (OrbundId, AppId) from command line, error=[%s]", error.AsString().c_str());
        FSLOG(0, "Will default to IndexV2 disabled");
        return false;
    }
    bool useV2 = false;
    if (shouldUseIndexingV2(appNumber, orbundId, useV2).IsError()) {
        FSLOG(0, "Failed to check if IndexV2 is enabled");
        FSLOG(0, "Will default to IndexV2 disabled");
        return false;
    }
    return useV2;
}

bool CFileScan::IsFileServerScan(int clientAppType)
{
    return clientAppType == 2 || clientAppType == 3 || clientAppType == 5 || clientAppType == 10;
}

bool CFileScan::IsDistributedClusterScan(int distributedAppType)
{
    return distributedAppType == 11 || distributedAppType == 13;
}

bool CFileScan::IsTrueUpArgumentRequired(const std::shared_ptr<CScannerOptions>& options)
{
    CBagPtr bag = options ? options->GetConfigurationBag() : nullptr;
    if (!bag || !bag->GetBool(Id::idTrueUpQualified))
        return false;
    return IsFileServerScan(static_cast<int>(CScannerSettings::GetInteger(*bag, Id::idClientAppType, 0))) ||
           IsDistributedClusterScan(static_cast<int>(CScannerSettings::GetInteger(*bag, Id::idDistributedAppType, 0)));
}
