#include "Engine/ScannerCallback.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstScanEngine.h"
#include "Engine/RawDeviceScanEngine.h"
#include "Engine/WorkUnit.h"

CScannerCallback::~CScannerCallback() = default;

bool CScannerCallback::IsAborted() { return m_aborted.load(std::memory_order_relaxed); }

std::string CScannerCallback::AsString() const { return "CScannerCallback"; }

void CScannerCallback::Abort() { m_aborted.store(true, std::memory_order_relaxed); }

CKxError CScannerCallback::GetPersistFolderName(std::string& folder)
{
    folder.clear();
    return CKxError(KxCode::NotFound, "No persist folder is configured");
}

CKxError CScannerCallback::GetOutputHandler(const std::string& volume, CConsumerOutputHandlerPtr& handler)
{
    handler.reset();
    return CKxError(KxCode::NotFound, KxFormat("Output handler is unconfigured for volume '%s'", volume.c_str()));
}

bool CScannerCallback::AreMaintenanceOperationsAllowed() { return false; }

void CScannerCallback::LogVolumeScanComplete(const CWorkUnit& unit)
{
    FSLOG(0, "Volume [%s] scan complete, items [%llu], folders [%llu], failures [%llu]", unit.GetVolumeName().c_str(),
          static_cast<unsigned long long>(unit.GetItemCount()), static_cast<unsigned long long>(unit.GetFolderCount()),
          static_cast<unsigned long long>(unit.GetFailureCount()));
}

CKxError CScannerCallback::GetScanEngineList(CScanEngineList& engines)
{
    engines.clear();
    engines.push_back(std::make_shared<CRawDeviceScanEngine>());
    engines.push_back(std::make_shared<CFindFirstScanEngine>());
    return CKxError::Success();
}

CKxError CScannerCallback::GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options)
{
    options.reset();
    return CKxError(KxCode::NotFound, "No post-processing options");
}

CKxError CScannerCallback::GetScannerOptionsInstance(std::shared_ptr<CScannerOptions>& options)
{
    options.reset();
    return CKxError(KxCode::NotFound, "No scanner options");
}

bool CScannerCallback::IsBackupFromRemoteVolumes() { return false; }

CKxError CScannerCallback::GetOutputResources(const std::string& volume, CItemConsumerPtr& collect,
                                              CItemConsumerPtr& dirChange, CItemEvaluatorPtr& evaluator,
                                              CItemConsumerPtr& ancestors)
{
    collect.reset();
    dirChange.reset();
    evaluator.reset();
    ancestors.reset();
    return CKxError(KxCode::NotFound, KxFormat("No output resource for volume '%s'", volume.c_str()));
}

CKxError CScannerCallback::GetFlatCollectFile(std::shared_ptr<CFlatCollectFile>& collect, int type, int index,
                                              const std::string& volume)
{
    collect.reset();
    return CKxError(KxCode::NotFound,
                    KxFormat("No collect file of type %d index %d for volume '%s'", type, index, volume.c_str()));
}

CKxError CScannerCallback::GetScanFailureConsumer(CScanFailureConsumerPtr& consumer)
{
    consumer.reset();
    return CKxError::Success();
}

CKxError CScannerCallback::ImpersonateUser() { return CKxError::Success(); }

void CScannerCallback::OnScannerError(const std::string& path, const CKxError& error)
{
    FSLOG_ERROR("Scan error at [%s]: %s", path.c_str(), error.AsString().c_str());
}

CFolderReadPlan* CScannerCallback::GetFolderReadPlan() { return nullptr; }
