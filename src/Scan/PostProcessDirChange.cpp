#include "Scan/PostProcessDirChange.h"

#include "Base/FXFile.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/FlatDirChangeFile.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "Scan/DeletedItemCallback.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

#include <fstream>
#include <new>

namespace Id = SXScannerConfigurationBagId;

namespace {
const char* YesNo(bool on) { return on ? "YES" : "NO"; }
}  // namespace

CPostProcessDirChange::CPostProcessDirChange(std::vector<COutputResourcesPtr> outputResources, SDirChangeComparison job)
    : m_outputResources(std::move(outputResources)), m_job(std::move(job))
{
}

CPostProcessDirChange::~CPostProcessDirChange() = default;

CKxError CPostProcessDirChange::ReadFailedPaths(const std::string& failuresPath, std::unordered_set<std::string>& paths)
{
    if (failuresPath.empty() || !FXFile::Exists(failuresPath))
        return CKxError::Success();
    std::ifstream in(failuresPath, std::ios::binary);
    if (!in)
        return CKxError::FromErrno(errno, KxFormat("Failed to open the failure list [%s]", failuresPath.c_str()));
    std::string line;
    std::string path;
    while (std::getline(in, line)) {
        // "<kind> <escaped path>:<code>"; the escaped path holds no newline, the code no ':'.
        const size_t space = line.find(' ');
        const size_t colon = line.rfind(':');
        if (space == std::string::npos || colon == std::string::npos || colon <= space + 1 ||
            unescapeFileName(std::string_view(line).substr(space + 1, colon - space - 1), path).IsError()) {
            FSLOG(0, "Skipping unreadable line of the failure list [%s]: [%s]", failuresPath.c_str(), line.c_str());
            continue;
        }
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        paths.insert(path);
    }
    if (in.bad())
        return CKxError::FromErrno(errno, KxFormat("Failed to read the failure list [%s]", failuresPath.c_str()));
    return CKxError::Success();
}

CKxError CPostProcessDirChange::CarryForwardFailures(CScanJobCallback& callback)
{
    // The failure list is complete only once flushed; so are the record buffers.
    KX_RETURN_IF_FAILED(callback.FlushBuffers(), "Failed to flush the scan's output before comparing");
    for (const COutputResourcesPtr& resource : m_outputResources)
        if (auto stage = std::dynamic_pointer_cast<IncrementalDirChange>(resource->GetDirChangeConsumer()))
            KX_RETURN_IF_ERROR(stage->FlushBuffer());
    m_failedPaths.clear();
    KX_RETURN_IF_ERROR(ReadFailedPaths(m_job.failuresPath, m_failedPaths));
    std::shared_ptr<CPathCacheFlatFileIndex> index = IncrementalDirChange::GetIndex();
    if (!index || !index->HasPreviousBackingFile())
        return CKxError::Success();
    for (const std::string& path : m_failedPaths) {
        FSLOG(3, "Carrying the previous records of [%s] forward: it could not be read in this job", path.c_str());
        KX_RETURN_IF_FAILED(index->CarryForward(path), "Failed to carry the records of [%s] forward", path.c_str());
    }
    return CKxError::Success();
}

CKxError CPostProcessDirChange::CloseStages()
{
    for (const COutputResourcesPtr& resource : m_outputResources)
        if (auto stage = std::dynamic_pointer_cast<IncrementalDirChange>(resource->GetDirChangeConsumer()))
            KX_RETURN_IF_ERROR(stage->CloseFile());
    FSLOG(0, "compacting dirchange");
    if (std::shared_ptr<CPathCacheFlatFileIndex> index = IncrementalDirChange::GetIndex())
        KX_RETURN_IF_FAILED(CFlatDirChangeFile(index).Compact(true), "Failed to compact the directory-change record");
    return ProcessFullOnlyItems();
}

CKxError CPostProcessDirChange::ProcessFullOnlyItems()
{
    for (const CFullOnlyDirChangeInfo& item : m_fullOnlyItems) {
        FSLOG(3, "Processing Full only item [%s], IsFile [%d]", item.path.c_str(), item.isFile ? 1 : 0);
        CKxError added = IncrementalDirChange::AddItem(item.path, item.record, item.isFile);
        if (added.IsError())
            return std::move(added.Push(KxFormat("Failed to add item to dir change [%s], error=%s", item.path.c_str(),
                                                 added.Message().c_str())));
    }
    return CKxError::Success();
}

CKxError CPostProcessDirChange::Run(CScanJobCallback& callback)
{
    FSTRACE();
    std::shared_ptr<CPathCacheFlatFileIndex> index = IncrementalDirChange::GetIndex();
    if (!index) {
        FSLOG(0, "No directory-change record in this job, nothing to compare");
        return CKxError::Success();
    }
    KX_RETURN_IF_ERROR(CarryForwardFailures(callback));

    const bool compare = m_job.Compares();
    const bool separateDeletedPass = compare && m_job.SeparateDeletedPass();
    if (compare) {
        bool deduceNew = true;
        bool deduceDeleted = true;
        CBagPtr bag = callback.GetScannerConfigurationBag();
        const bool identifyACLOnly = !m_job.IsFull() && bag && bag->GetBool(Id::idIdentifyACLOnlyItem);
        if (index->HasPreviousBackingFile()) {
            if (m_job.IsFull())
                deduceNew = false;
            if (separateDeletedPass || !m_job.deletedItemDetection)
                deduceDeleted = false;
            auto compareCallback = std::shared_ptr<CDeletedItemCallback>(new (std::nothrow) CDeletedItemCallback(
                m_job.jobId, m_job.backupType, deduceDeleted, deduceNew, callback, this));
            if (!compareCallback)
                return CKxError(KxCode::OutOfMemory, "Failed to allocate the comparison callback");
            compareCallback->SetIdentifyACLOnly(identifyACLOnly);
            compareCallback->SetSkippedPaths(&m_failedPaths);
            FSLOG(0, "comparing with %s deduce new-items [%s] deduce deleted-items [%s]",
                  index->GetPreviousBackingFilePath().c_str(), YesNo(deduceNew), YesNo(deduceDeleted));
            KX_RETURN_IF_FAILED(IncrementalDirChange::Compare(*compareCallback), "Compare failed");
            FSLOG(0, "Deleted items [%llu], items added after the comparison [%llu]",
                  static_cast<unsigned long long>(compareCallback->GetDeletedCount()),
                  static_cast<unsigned long long>(compareCallback->GetAddedCount()));
        } else {
            FSLOG(5, "not comparing with previous dir change [%s] since it is not found", m_job.referencePath.c_str());
        }
    }

    KX_RETURN_IF_ERROR(CloseStages());

    if (separateDeletedPass) {
        // A previous job's file that cannot be loaded counts as absent, like a missing one.
        CPathCacheFlatFileIndex probe;
        if (CKxError loaded = probe.SetPreviousBackingFile(m_job.previousPath, nullptr); loaded.IsError()) {
            FSLOG_ERROR("not comparing with previous dir change [%s] since it is not found (%s)", m_job.previousPath.c_str(),
                        loaded.AsString().c_str());
            IncrementalDirChange::RaisePreviousRecordUnusable(m_job.previousPath, loaded.Message(),
                                                              "this job reports no deleted items");
            return CKxError::Success();
        }
        // The comparison reads this job's record as a finished file.
        KX_RETURN_IF_ERROR(IncrementalDirChange::Close());
        FSLOG(0, "comparing with previous dir change [%s] to get deleted items", m_job.previousPath.c_str());
        CDeletedItemCallback deletedOnly(m_job.jobId, m_job.backupType, true, false, callback, nullptr);
        deletedOnly.SetSkippedPaths(&m_failedPaths);
        KX_RETURN_IF_ERROR(IncrementalDirChange::CompareForDeletedItems(m_job.previousPath, deletedOnly));
        return CKxError::Success();
    }
    // Nothing adds to the record after this step: its closing index is written while the
    // collect files are split, and the close step waits for it.
    IncrementalDirChange::BeginClose();
    return CKxError::Success();
}
