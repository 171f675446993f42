#include "Scan/Unix/UnixScanJobCallback.h"

#include "Base/LogWriter.h"
#include "Scan/AdHocFileNameFactory.h"
#include "Scan/ScannerSettings.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixScannerOptions.h"

namespace Id = SXScannerConfigurationBagId;

CUnixScanJobCallback::CUnixScanJobCallback() = default;

CUnixScanJobCallback::~CUnixScanJobCallback() = default;

std::string CUnixScanJobCallback::AsString() const { return "UnixScanJobCallback"; }

std::shared_ptr<CScannerOptions> CUnixScanJobCallback::MakeScannerOptions()
{
    return std::make_shared<CUnixScannerOptions>();
}

std::shared_ptr<CFileNameFactory> CUnixScanJobCallback::MakeFileNameFactory(unsigned int backupType,
                                                                            const std::string& resultsFolder)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (bag && bag->GetBool(Id::idOnDemandAdHocBackupJob))
        return std::make_shared<CAdHocFileNameFactory>(backupType, resultsFolder);
    return std::make_shared<CUnixFileNameFactory>(backupType, resultsFolder);
}

CKxError CUnixScanJobCallback::GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options)
{
    const bool created = !m_postProcessingOptions;
    KX_RETURN_IF_ERROR(CScanJobCallback::GetPostProcessingOptionsInstance(options));
    CBagPtr bag = GetScannerConfigurationBag();
    if (created && options && bag && bag->GetBool("SC:MultipleReadersWithinSameMount"))
        options->SetMultipleReads();
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetNextPhaseArguments(std::string& arguments, int& action)
{
    KX_RETURN_IF_ERROR(CScanJobCallback::GetNextPhaseArguments(arguments, action));
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag)
        return CKxError::Success();

    if (bag->GetBool(Id::idIndexV2))
        arguments += " -idx2";
    arguments += " -new_scan";
    if (bag->GetBool(Id::idSkipIncompleteLargeFileBrowse))
        arguments += " -slt";
    if (bag->GetBool(Id::idHadoopScan)) {
        const std::string user = bag->GetString(Id::idHadoopUser);
        arguments += KxFormat(" -hadoopURI %s %s%s ", bag->GetString(Id::idHadoopNameNodeHost).c_str(),
                              user.empty() ? "" : "-hadoopUser ", user.c_str());
    }
    const std::int64_t extentSize = CScannerSettings::GetInteger(*bag, Id::idExtentSize, 0);
    if (extentSize != 0)
        arguments += KxFormat(" -LFEExtsz %llu ", static_cast<unsigned long long>(extentSize));
    if (bag->GetBool(Id::idGpfsSnap))
        arguments += " -nsnap ";
    const std::int64_t impersonateUid = CScannerSettings::GetInteger(*bag, Id::idImpersonateUID, 0);
    if (impersonateUid != 0)
        arguments += KxFormat(" -impersonateUID %u ", static_cast<unsigned>(impersonateUid));
    if (bag->GetBool(Id::idIsDefaultSCContentRoot)) {
        FSLOG(0, "This is a default subclient with root content. So Adding phase argument -MntDetails for backup "
                 "phase to backup the mount points");
        arguments += " -MntDetails ";
    }
    arguments += bag->GetBool(Id::idHardLinkEnable) ? " -hlon " : " -hloff ";
    if (bag->GetBool(Id::idMultiStreamExtentBackup))
        arguments += " -msExtBkp ";
    const std::int64_t containerCollectId = CScannerSettings::GetInteger(*bag, Id::idContainerCollectId, 0);
    if (containerCollectId != 0)
        arguments += KxFormat(" -CCId %d ", static_cast<int>(containerCollectId));
    if (bag->GetBool(Id::idAutoMountRequired) && !bag->GetBool(Id::idDistributedFSMode))
        arguments += " -amr ";
    return CKxError::Success();
}
