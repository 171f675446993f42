#include "Scan/Dirchange/PostProcessSQLiteDirChange.h"

#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "ContentContainer/CompareContentContainers.h"
#include "ContentContainer/ContentContainerFormatter.h"
#include "Scan/Dirchange/ContentContainerComparisonCallback.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/PostProcessDirChange.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

#include <unordered_set>

namespace Id = SXScannerConfigurationBagId;

namespace {
const char* YesNo(bool on) { return on ? "YES" : "NO"; }
}  // namespace

CPostProcessSQLiteDirChange::CPostProcessSQLiteDirChange(CX::CContentContainerPtr store, SDirChangeComparison job)
    : m_store(std::move(store)), m_job(std::move(job))
{
}

CPostProcessSQLiteDirChange::~CPostProcessSQLiteDirChange() = default;

CKxError CPostProcessSQLiteDirChange::Compare(const std::string& previous, CContentContainerComparisonCallback& compare)
{
    KX_RETURN_IF_FAILED(CX::CCompareContentContainers(previous, *m_store, compare).CompareDatabases(), "Compare failed");
    FSLOG(0, "Deleted items [%llu], items added after the comparison [%llu]",
          static_cast<unsigned long long>(compare.GetDeletedCount()),
          static_cast<unsigned long long>(compare.GetAddedCount()));
    return MarkCollected(compare.Added());
}

CKxError CPostProcessSQLiteDirChange::MarkCollected(const std::vector<std::string>& paths)
{
    std::string metadata;
    for (const std::string& path : paths) {
        KX_RETURN_IF_FAILED(m_store->QueryFile(path, metadata), "Item [%s] is not present in Dirchange", path.c_str());
        KX_RETURN_IF_ERROR(
            CX::CContentContainerFormatter::UpdateMetadata(metadata, CX::CContentContainerFormatter::EMetadataType::Collect));
        KX_RETURN_IF_ERROR(m_store->UpdateFileMetadata(path, metadata));
        FSLOG(3, "Updated [%s] item metadata <Collect = True>", path.c_str());
    }
    return CKxError::Success();
}

CKxError CPostProcessSQLiteDirChange::Run(CScanJobCallback& callback)
{
    FSTRACE();
    if (!m_store)
        return CKxError(774, "The Dirchange Object is not initialized");
    KX_RETURN_IF_FAILED(callback.FlushBuffers(), "Failed to flush the scan's output before comparing");

    std::unordered_set<std::string> failed;
    KX_RETURN_IF_ERROR(CPostProcessDirChange::ReadFailedPaths(m_job.failuresPath, failed));
    // A damaged reference counts as absent, as it did for the evaluators.
    const CKxError reference = CX::CContentContainer::Verify(m_job.referencePath);
    const bool referencePresent = reference.IsSuccess();
    if (referencePresent)
        for (const std::string& path : failed) {
            FSLOG(3, "Carrying the previous records of [%s] forward: it could not be read in this job", path.c_str());
            KX_RETURN_IF_ERROR(m_store->CarryForward(m_job.referencePath, path));
        }

    if (!m_job.Compares())
        return CKxError::Success();
    const bool separateDeletedPass = m_job.SeparateDeletedPass();
    if (!referencePresent) {
        FSLOG(0, "not comparing with previous dir change [%s]: %s", m_job.referencePath.c_str(), reference.Message().c_str());
    } else {
        const bool deduceNew = !m_job.IsFull();
        const bool deduceDeleted = m_job.deletedItemDetection && !separateDeletedPass;
        CContentContainerComparisonCallback compare(m_job.jobId, m_job.backupType, deduceDeleted, deduceNew, callback);
        CBagPtr bag = callback.GetScannerConfigurationBag();
        compare.SetIdentifyACLOnly(!m_job.IsFull() && bag && bag->GetBool(Id::idIdentifyACLOnlyItem));
        compare.SetSkippedPaths(&failed);
        FSLOG(0, "comparing with %s deduce new-items [%s] deduce deleted-items [%s]", m_job.referencePath.c_str(),
              YesNo(deduceNew), YesNo(deduceDeleted));
        KX_RETURN_IF_ERROR(Compare(m_job.referencePath, compare));
    }
    if (!separateDeletedPass)
        return CKxError::Success();
    if (CKxError previous = CX::CContentContainer::Verify(m_job.previousPath); previous.IsError()) {
        FSLOG_ERROR("not comparing with previous dir change [%s] since it is not found: %s", m_job.previousPath.c_str(),
                    previous.Message().c_str());
        IncrementalDirChange::RaisePreviousRecordUnusable(m_job.previousPath, previous.Message(),
                                                          "this job reports no deleted items");
        return CKxError::Success();
    }
    FSLOG(0, "comparing with previous dir change [%s] to get deleted items", m_job.previousPath.c_str());
    CContentContainerComparisonCallback deletedOnly(m_job.jobId, m_job.backupType, true, false, callback);
    deletedOnly.SetSkippedPaths(&failed);
    return Compare(m_job.previousPath, deletedOnly);
}
