#include "Scan/Dirchange/ScanJobFileSystemCallbackSQLiteDirchange.h"

#include "Base/FXFile.h"
#include "ContentContainer/ContentContainerBuffer.h"
#include "Scan/Dirchange/FileNameFactorySQLiteDirchange.h"
#include "Scan/Dirchange/PostProcessSQLiteDirChange.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"

#include <new>

namespace Id = SXScannerConfigurationBagId;

std::shared_ptr<CFileNameFactory> CScanJobFileSystemCallbackSQLiteDirchange::MakeFileNameFactory(
    unsigned int backupType, const std::string& resultsFolder)
{
    return std::make_shared<CFileNameFactorySQLiteDirchange>(backupType, resultsFolder);
}

CKxError CScanJobFileSystemCallbackSQLiteDirchange::MakeDirChangeConsumer(int, CItemConsumerPtr& record)
{
    if (!m_store)
        return CKxError(774, "Current SQLiteDirchange Object is not initialized. Cannot create buffer.");
    record = std::shared_ptr<CContentContainerBuffer>(new (std::nothrow) CContentContainerBuffer(m_store, m_jobId));
    if (!record)
        return CKxError(KxCode::OutOfMemory, "Failed to allocate the directory-change buffer");
    return CKxError::Success();
}

CKxError CScanJobFileSystemCallbackSQLiteDirchange::GetPostProcessDirChangeInterface(
    std::shared_ptr<IPostProcessDirChange>& postProcess)
{
    postProcess.reset();
    CBagPtr bag = GetScannerConfigurationBag();
    const unsigned long backupType =
        bag ? static_cast<unsigned long>(CScannerSettings::GetInteger(*bag, Id::idBackupType, 1)) : 1;
    const bool full = backupType == 1;
    bool detection = !full || (bag && bag->GetBool(Id::idFileServerTrueUp) && FXFile::Exists(m_referenceDirChangePath));
    if (bag && bag->GetBool(Id::idDisableDCCompare))
        detection = false;
    postProcess = std::make_shared<CPostProcessSQLiteDirChange>(
        m_store, backupType, m_jobId, m_previousDirChangePath, m_referenceDirChangePath,
        m_fileNameFactory ? m_fileNameFactory->ScanFailedItemsCollect() : std::string(), detection);
    return CKxError::Success();
}
