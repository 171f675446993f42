#include "Scan/FileScanVSA.h"

#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Scan/AnalyticsScanJobs.h"
#include "Scan/FileNameFactory.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"

CFileScanVSA::CFileScanVSA(std::shared_ptr<CCommandLineArguments> args) : m_args(std::move(args)) {}

CFileScanVSA::~CFileScanVSA() = default;

CKxError CFileScanVSA::Process()
{
    FSTRACE();
    if (!m_args)
        return CKxError(KxCode::InvalidParameter, "No command line given");
    if (!m_args->GetOption("prefix", m_prefix))
        return CKxError(KxCode::InvalidParameter, "GetOption -prefix <prefix> for collect files and dirchange failed");
    if (!m_args->GetOption("directive", m_directive))
        return CKxError(KxCode::InvalidParameter, "GetOption -directive <directive> failed.");
    std::string value;
    if (!m_args->GetOption("j", value))
        return CKxError(KxCode::InvalidParameter, "GetOption -j <jobId> failed");
    if (!m_args->GetOption("a", value))
        return CKxError(KxCode::InvalidParameter, "GetOption -a <applicationId> failed.");
    if (!m_args->GetOption("t", value))
        return CKxError(KxCode::InvalidParameter, "GetOption failed, Option=t (Backup Type)");

    m_job = std::make_shared<CScanJobVSAAnalytics>();
    m_callback = std::make_shared<CScanJobVSAAnalyticsCallback>();
    m_job->SetScanJobCallback(m_callback);
    std::shared_ptr<CScannerOptions> options;
    KX_RETURN_IF_ERROR(m_callback->GetScannerOptionsInstance(options));
    if (options && options->GetConfigurationBag())
        KX_RETURN_IF_ERROR(
            options->GetConfigurationBag()->Write(SXScannerConfigurationBagId::idVSAScanDirectiveFile, m_directive));

    KX_RETURN_IF_ERROR(m_job->ProcessCommandLine(m_args));
    FSLOG(0, "Running ScanType - [%s] CallbackType - [%s]", m_job->AsString().c_str(), m_callback->AsString().c_str());
    KX_RETURN_IF_FAILED(m_job->Process(), "File Scan Failed");
    return CKxError::Success();
}

std::string CFileScanVSA::GetDirchangeFileName() const
{
    auto factory = m_job ? m_job->GetFileNameFactory() : nullptr;
    return factory ? factory->ConsolidatedDirChange(0) : std::string();
}

std::string CFileScanVSA::GetTempDirchangeFileName() const
{
    auto factory = m_job ? m_job->GetFileNameFactory() : nullptr;
    return factory ? factory->ConsolidatedDirChangeTemp() : std::string();
}

std::string CFileScanVSA::GetSubclientJRPath() const
{
    auto factory = m_job ? m_job->GetFileNameFactory() : nullptr;
    return factory ? factory->GetResultsFolderForSubclient() : std::string();
}
