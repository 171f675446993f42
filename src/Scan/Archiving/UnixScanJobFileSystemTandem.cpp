#include "Scan/Archiving/UnixScanJobFileSystemTandem.h"

#include "Agent/ApplicationId.h"
#include "Agent/Subclient.h"
#include "Base/LogWriter.h"
#include "Scan/Archiving/ScanFileSystemTandemJobCallback.h"
#include "Scan/FileNameFactory.h"
#include "Scan/ScannerConfigurationBagId.h"

namespace Id = SXScannerConfigurationBagId;

CKxError CUnixScanJobFileSystemTandem::Configure()
{
    FSTRACE();
    KX_RETURN_IF_ERROR(CScanJobFileSystem::Configure());
    CBagPtr bag = GetConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    ApplicationId application(m_applicationId);
    std::shared_ptr<Subclient> subclient = application.getSubclient();
    if (!subclient)
        return CKxError(KxCode::UnknownProduct,
                        KxFormat("Failed to get the subclient of [%s] for its archiving rules", m_applicationId.c_str()));
    SArchivingRules rules;
    KX_RETURN_IF_FAILED(subclient->getArchivingRules(rules), "Failed to get the archiving rules");
    std::string extensions;
    for (const std::string& extension : rules.extensions)
        extensions += (extensions.empty() ? "" : ",") + extension;
    const bool noRules = rules.accessedDays == 0 && rules.modifiedDays == 0 && rules.minFileSize == 0 &&
                         rules.maxFileSize == 0 && extensions.empty();
    FSLOG(0, "Archiving rules: accessed %llu days, modified %llu days, size %llu to %llu, extensions [%s], free %u%% "
             "when at or below %u%%%s",
          static_cast<unsigned long long>(rules.accessedDays), static_cast<unsigned long long>(rules.modifiedDays),
          static_cast<unsigned long long>(rules.minFileSize), static_cast<unsigned long long>(rules.maxFileSize),
          extensions.c_str(), rules.highFreePercent, rules.lowFreePercent, noRules ? " (no rule: nothing archived)" : "");
    KX_RETURN_IF_ERROR(bag->Write(Id::idRulesDisabled, noRules));
    KX_RETURN_IF_ERROR(bag->Write(Id::idNumDaysAccessed, static_cast<unsigned long long>(rules.accessedDays)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idNumDaysModified, static_cast<unsigned long long>(rules.modifiedDays)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idMinFileSize, static_cast<unsigned long long>(rules.minFileSize)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idMaxFileSize, static_cast<unsigned long long>(rules.maxFileSize)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idExtensionsForDiskCleanup, extensions));
    KX_RETURN_IF_ERROR(bag->Write(Id::idHighPercentDiskSpace, static_cast<int>(rules.highFreePercent)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idLowPercentDiskSpace, static_cast<int>(rules.lowFreePercent)));
    KX_RETURN_IF_ERROR(bag->Write(Id::idSkipSmallerFiles, rules.skipSmallerFiles));
    KX_RETURN_IF_ERROR(bag->Write(Id::idSkipLockTest, rules.skipLockTest));
    return bag->Write(Id::idReportStubbingCandidates, rules.reportCandidates);
}

CKxError CUnixScanJobFileSystemTandem::Prepare()
{
    FSTRACE();
    KX_RETURN_IF_ERROR(CScanJobFileSystem::Prepare());
    auto callback = std::dynamic_pointer_cast<CScanFileSystemTandemJobCallback>(m_callback);
    if (!callback || !m_fileNameFactory) {
        FSLOG(0, "The job's callback [%s] picks no stub candidates", m_callback ? m_callback->AsString().c_str() : "");
        return CKxError::Success();
    }
    return callback->StartArchiving(m_fileNameFactory->StubCollect());
}

CKxError CUnixScanJobFileSystemTandem::Cleanup_FlushDirchangeToDisk()
{
    KX_RETURN_IF_ERROR(CScanJobFileSystem::Cleanup_FlushDirchangeToDisk());
    auto callback = std::dynamic_pointer_cast<CScanFileSystemTandemJobCallback>(m_callback);
    if (!callback)
        return CKxError::Success();
    std::uint64_t candidates = 0;
    KX_RETURN_IF_FAILED(callback->FinishArchiving(candidates), "Failed to put the stub collect file in place");
    FSLOG(0, "Stub candidates: %llu", static_cast<unsigned long long>(candidates));
    return CKxError::Success();
}
