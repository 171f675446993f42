#include "Scan/ScanJob.h"

#include "Agent/Arguments.h"
#include "Agent/CommandLineArguments.h"
#include "Agent/XJob.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/DecimalText.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr const char* kAgentSection = "FileSystemAgent";

using DecimalText::ParseUnsigned;

CKxError MissingOption(const char* name)
{
    return CKxError(KxCode::InvalidParameter, KxFormat("GetOption failed, Option=%s", name));
}
}  // namespace

CScanJob::CScanJob() : m_trace(std::make_unique<CFunctionTrace>(__PRETTY_FUNCTION__, __LINE__)) {}

CScanJob::~CScanJob() = default;

std::string CScanJob::AsString() const { return "ScanJob"; }

void CScanJob::SetScanJobCallback(CScanJobCallbackPtr callback) { m_callback = std::move(callback); }

CKxError CScanJob::ProcessCommandLine(const CCommandLineArgumentsPtr& args)
{
    FSTRACE();
    if (!args)
        return CKxError(KxCode::InvalidParameter, "No command line given");

    KX_RETURN_IF_FAILED(CArguments::GetJobId(args, m_jobId), "GetJobId failed");

    if (!args->GetOption("jt", m_jobToken))
        return MissingOption("jt");
    std::printf("JobToken=%s\n", m_jobToken.c_str());

    KX_RETURN_IF_FAILED(CArguments::GetApplicationId(args, m_applicationId), "GetApplicationId failed");
    std::uint64_t orbundId = 0, appNumber = 0;
    KX_RETURN_IF_FAILED(CArguments::GetOrbundAndAppId(args, orbundId, appNumber), "GetApplicationId failed");
    m_orbundId = static_cast<std::uint32_t>(orbundId);
    m_applicationNumber = static_cast<std::uint32_t>(appNumber);

    KX_RETURN_IF_FAILED(CArguments::GetClientName(args, m_clientName), "GetClientName failed");

    std::string backupType;
    if (!args->GetOption("f", backupType) && !args->GetOption("t", backupType))
        return MissingOption("f/t");
    unsigned long long type = 0;
    if (!ParseUnsigned(backupType, type) || type > UINT32_MAX)
        return CKxError(KxCode::InvalidParameter,
                        KxFormat("GetOption failed, Option=f/t, value [%s] is not a backup type", backupType.c_str()));
    m_backupType = static_cast<std::uint32_t>(type);
    std::printf("BackupType=%lu\n", static_cast<unsigned long>(m_backupType));

    if (!args->GetOption("vm", m_instance))
        return MissingOption("vm");

    std::string package;
    if (args->GetOption("pkg", package)) {
        FSLOG(0, "DistributedPkgType %s", package.c_str());
        m_distributedPackage = package == "Hadoop";
    }

    m_snapTape = args->GetOption("snaptape");

    std::string previousJob;
    if (args->GetOption("pcs", previousJob) || args->GetOption("pbs", previousJob)) {
        unsigned long long value = 0;
        m_prevJobValid = ParseUnsigned(previousJob, value) && value == 0;
    }
    return CKxError::Success();
}

CKxError CScanJob::Process()
{
    FSTRACE();
    CKxError result = Configure();
    if (result.IsError()) {
        result.Push(KxFormat("Failed to configure scan job; terminating, ScanJob=%s", AsString().c_str()));
    } else {
        result = Prepare();
        if (result.IsError()) {
            result.Push(KxFormat("Failed to prepare scan job; terminating, ScanJob=%s", AsString().c_str()));
        } else {
            result = Run();
            if (result.IsError())
                result.Push(KxFormat("Failed to run scan job; terminating, ScanJob=%s", AsString().c_str()));
        }
    }
    if (result.IsError()) {
        FSLOG_ERROR("[%lld] Error=%s", static_cast<long long>(m_jobId), result.AsString().c_str());
        FailPhase();
    }

    // Clean-up releases what the earlier steps took (threads, impersonation, open files), so it
    // runs after a failure too; its own failure is the one the driver must see.
    CKxError cleanup = Cleanup();
    if (cleanup.IsError())
        return std::move(cleanup.Push(
            KxFormat("Failed to cleanup scan job; terminating, ScanJob=%s", AsString().c_str())));
    if (result.IsError())
        return std::move(result.Push(std::string()));
    return CKxError::Success();
}

CKxError CScanJob::Configure()
{
    FSTRACE();
    if (!m_callback)
        return CKxError(KxCode::InvalidParameter,
                        KxFormat("ScanJobCallback is not set, ScanJob=%s", AsString().c_str()));

    CXJob::SetFocusClientName(m_clientName);

    KX_RETURN_IF_ERROR(
        CXJob::GetFileSystemResultPathForJobFromApplicationId(m_applicationId, m_jobId, m_jobResultsFolder));
    KX_RETURN_IF_ERROR(
        CXJob::GetFileSystemResultPathForSubclient(m_orbundId, m_applicationNumber, m_subclientResultsFolder));

    KX_RETURN_IF_ERROR(m_callback->GetScannerOptionsInstance(m_scannerOptions));
    if (!m_scannerOptions)
        return CKxError(KxCode::ObjectNotFound, "Scanner options object not found.");
    CBagPtr bag = m_scannerOptions->GetConfigurationBag();

    if (bag && bag->GetBool(SXScannerConfigurationBagId::idAnalyticsEnabled)) {
        m_jobResultsFolder = FXPath::Append(m_jobResultsFolder, "Analytics");
        FSLOG(0, "Using updated job results as this is Analytics job [%s]", m_jobResultsFolder.c_str());
        KX_RETURN_IF_ERROR(EnsureFolder(m_jobResultsFolder));
    }
    if (bag && bag->GetBool("ObjectStoreMigration")) {
        m_jobResultsFolder = FXPath::Append(m_jobResultsFolder, KxFormat("%lld", static_cast<long long>(m_jobId)));
        FSLOG(0, "Using updated job results as this is Migration job [%s]", m_jobResultsFolder.c_str());
        KX_RETURN_IF_ERROR(EnsureFolder(m_jobResultsFolder));
    }

    FSLOG(0, "ResultPathJob=%s", m_jobResultsFolder.c_str());
    FSLOG(0, "ResultPathSubclient=%s", m_subclientResultsFolder.c_str());

    m_fileNameFactory = m_callback->GetFileNameFactory(m_backupType, m_subclientResultsFolder);
    if (!m_fileNameFactory)
        return CKxError(KxCode::OperationAborted,
                        KxFormat("FileNameFactory not provided by %s", m_callback->AsString().c_str()));

    m_callback->SetJobId(m_jobId);
    KX_RETURN_IF_ERROR(m_callback->CreateStatusFile(m_subclientResultsFolder));
    KX_RETURN_IF_ERROR(m_callback->initJobControl(m_jobToken));

    if (bag) {
        KX_RETURN_IF_ERROR(bag->Write(SXScannerConfigurationBagId::idHadoopScan, m_distributedPackage));
        KX_RETURN_IF_ERROR(bag->Write(SXScannerConfigurationBagId::idLastJobID, static_cast<long long>(m_lastJobId)));
        KX_RETURN_IF_ERROR(bag->Write(SXScannerConfigurationBagId::idSnapTape, m_snapTape));
        KX_RETURN_IF_ERROR(bag->Write(SXScannerConfigurationBagId::idIsPrevJobValid, m_prevJobValid));
    }

    KX_RETURN_IF_ERROR(m_scannerOptions->LoadConfiguration(m_applicationId));
    bag = m_scannerOptions->GetConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");

    namespace Id = SXScannerConfigurationBagId;
    KX_RETURN_IF_ERROR(bag->Write(Id::idInstance, m_instance));
    KX_RETURN_IF_ERROR(bag->Write(Id::idBackupType, static_cast<unsigned int>(m_backupType)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idSubClientResultFolderPath, m_subclientResultsFolder));
    KX_RETURN_IF_ERROR(bag->Write(Id::idJobResultFolderPath, m_jobResultsFolder));
    KX_RETURN_IF_ERROR(bag->Write(Id::idJobID, static_cast<long long>(m_jobId)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idAppId, static_cast<unsigned int>(m_applicationNumber)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idOrbundId, static_cast<unsigned int>(m_orbundId)));

    m_callback->SetScannerConfigurationBag(bag);

    KX_RETURN_IF_ERROR(m_callback->GetPostProcessingOptionsInstance(m_postProcessingOptions));
    if (m_postProcessingOptions)
        KX_RETURN_IF_ERROR(m_postProcessingOptions->LoadConfiguration());

    return SetJobResultsDir();
}

CKxError CScanJob::Prepare() { return CKxError::Success(); }

CKxError CScanJob::Run() { return CKxError::Success(); }

CKxError CScanJob::Cleanup()
{
    FSTRACE();
    std::string failScan;
    if (ZVPlatformInfo::getString(kAgentSection, "DEBUG_FAIL_SCAN", failScan) && !failScan.empty() &&
        (failScan[0] == 'y' || failScan[0] == 'Y')) {
        FailPhase();
        FSLOG(0, "!!!!!!!! WILL FAIL PHASE DUE TO REG.KEY ~FileSystemAgent/DEBUG_FAIL_SCAN is set to: %s",
              failScan.c_str());
    }
    return CKxError::Success();
}

CKxError CScanJob::SetJobResultsDir()
{
    std::string folder;
    KX_RETURN_IF_ERROR(CXJob::GetJobResultsDirectory(folder));
    if (!m_scannerOptions || !m_scannerOptions->GetConfigurationBag())
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    return m_scannerOptions->GetConfigurationBag()->Write(SXScannerConfigurationBagId::idJobResultsBasePath, folder);
}

CKxError CScanJob::EnsureFolder(const std::string& folder)
{
    if (FXFile::IsDirectory(folder))
        return CKxError::Success();
    return FXFile::CreateDirectories(folder);
}
