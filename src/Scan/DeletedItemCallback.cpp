#include "Scan/DeletedItemCallback.h"

#include "Agent/EvEvent.h"
#include "Base/LogWriter.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/IncrFlatCollectFile.h"
#include "Scan/Dirchange/DirChangeItemInfoImpl.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/PostProcessDirChange.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace Id = SXScannerConfigurationBagId;

namespace {
const CDirChangeItemInfo* Info(const FVBasePtr& record) { return dynamic_cast<const CDirChangeItemInfo*>(record.get()); }
}  // namespace

CDeletedItemCallback::CDeletedItemCallback(long long jobId, unsigned long backupType, bool deduceDeletedItems,
                                           bool deduceNewItems, CScanJobCallback& callback, CPostProcessDirChange* owner)
    : m_jobId(jobId),
      m_backupType(backupType),
      m_deduceDeletedItems(deduceDeletedItems),
      m_deduceNewItems(deduceNewItems),
      m_callback(callback),
      m_owner(owner),
      m_referenceTime(static_cast<std::int64_t>(callback.GetReferenceTime()))
{
    if (CBagPtr bag = callback.GetScannerConfigurationBag()) {
        m_useMTime = bag->GetBool(Id::idUseMTime, true);
        m_useCTime = bag->GetBool(Id::idUseCTime, true);
    }
}

CDeletedItemCallback::~CDeletedItemCallback() = default;

bool CDeletedItemCallback::IgnoresFullOnly() const { return m_owner && m_callback.IsIgnoreFullOnlyItems(); }

CKxError CDeletedItemCallback::OpenDeletedItems()
{
    if (m_deletedItems)
        return CKxError::Success();
    KX_RETURN_IF_ERROR(m_callback.GetDeletedItemsCollectFile(m_deletedItems, m_deletedItemsCollectNumber));
    FSLOG(3, "Job %lld lists deleted and added items in [%s] (collect file %d)", m_jobId,
          m_deletedItems->GetFileName().c_str(), m_deletedItemsCollectNumber);
    return CKxError::Success();
}

CKxError CDeletedItemCallback::Write(const std::string& line, bool deletion, std::uint64_t size)
{
    KX_RETURN_IF_ERROR(OpenDeletedItems());
    CKxError written = deletion ? m_deletedItems->RawWriteDeletedItem(line) : m_deletedItems->RawWriteItem(line, size);
    if (written.IsSuccess()) [[likely]]
        return written;
    const std::string& file = m_deletedItems->GetFileName();
    if (CKxError raised = EvEvent::Raise(IncrementalDirChange::kEventWriteFailed, EvEvent::Major,
                                         KxFormat("Failed to write to '%s'", file.c_str()), {file});
        raised.IsError())
        FSLOG_ERROR("Failed to raise the write-failure event: %s", raised.AsString().c_str());
    return written;
}

CKxError CDeletedItemCallback::OnInIndex1(const std::string& path, bool isFile, const FVBasePtr& first)
{
    if (!m_deduceDeletedItems)
        return CKxError::Success();
    if (m_skipped && m_skipped->contains(path)) {
        FSLOG(3, "Item [%s] could not be read in this job; not reported deleted", path.c_str());
        return CKxError::Success();
    }
    const CDirChangeItemInfo* info = Info(first);
    if (info && info->GetBackupFrequency() != 0 && IgnoresFullOnly()) {
        FSLOG(3, "Keeping full only item [%s], IsFile [%d]", path.c_str(), isFile ? 1 : 0);
        m_owner->AddFullOnlyItem({path, isFile, first});
        return CKxError::Success();
    }
    std::string line = isFile ? "??d" : "??D";
    escapeFileNameAppend(path, line);
    FSLOG(5, "Encode path: %s", line.c_str() + 3);
    FSLOG(3, isFile ? "Deleted File: %s" : "Deleted Folder: %s", path.c_str());
    CKxError written = Write(line, true, 0);
    if (written.IsError()) {
        const std::string& file = m_deletedItems ? m_deletedItems->GetFileName() : std::string();
        return std::move(written.Push(
            isFile ? KxFormat("failed to add deleted item [%s] to collect error [%s] [%s]", path.c_str(),
                              written.Message().c_str(), file.c_str())
                   : KxFormat("failed to add deleted item [%s] to collect, error=%s", path.c_str(),
                              written.Message().c_str())));
    }
    ++m_deleted;
    return CKxError::Success();
}

CKxError CDeletedItemCallback::OnInIndex1RecurseIntoDeletedFolder(const std::string&, const FVBasePtr& first,
                                                                  bool& recurse)
{
    // Below a deleted folder only full-only items are of interest: one deletion line stands for
    // everything else it held.
    const CDirChangeItemInfo* info = Info(first);
    recurse = IgnoresFullOnly() && info && info->GetBackupFrequency() != 0;
    return CKxError::Success();
}

CKxError CDeletedItemCallback::OnInIndex2(const std::string& path, bool isFile, const FVBasePtr& second)
{
    if (!m_deduceNewItems)
        return CKxError::Success();
    FSLOG(5, isFile ? "New File: %s" : "New Folder: %s", path.c_str());
    const CDirChangeItemInfo* info = Info(second);
    if (info && info->isSelected()) {
        FSLOG(5, "skipping new file [%s] as it already added to collect file", path.c_str());
        return CKxError::Success();
    }
    return AddItem(path, isFile, second, info && info->IsACLOnly());
}

CKxError CDeletedItemCallback::OnInBothIndexes(const std::string& path, bool isFile, const FVBasePtr&,
                                               const FVBasePtr& second)
{
    if (!m_identifyACLOnly)
        return CKxError::Success();
    const CDirChangeItemInfo* info = Info(second);
    if (!info || info->isSelected() || !info->IsACLOnly())
        return CKxError::Success();
    FSLOG(3, "ACL only item [%s]", path.c_str());
    return AddItem(path, isFile, second, true);
}

CKxError CDeletedItemCallback::AddItem(const std::string& path, bool isFile, const FVBasePtr& record, bool aclOnly)
{
    // The record names source paths; the item is looked for where it lies on this machine. A
    // mapped item that cannot be found that way is added unchecked: the backup phase reports
    // one that is really gone.
    const ContentMapperAPIPtr& mapper = m_callback.GetContentMapper();
    const bool mapped = mapper && !mapper->IsIdentity();
    struct stat status {};
    bool checked = false;
    if (::lstat((mapped ? mapper->GetLocalPath(path) : path).c_str(), &status) == 0) {
        checked = true;
    } else if (!mapped) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            FSLOG(3, "Skipping new file '%s', it does not exists", path.c_str());
        else
            FSLOG(0, "Skipping new file '%s', error %s finding file", path.c_str(), std::strerror(error));
        return CKxError::Success();
    } else {
        FSLOG(0, "Failed to convert host path to proxy path, SourceScanPath=[%s]", path.c_str());
    }

    if (checked && !aclOnly && m_referenceTime.Seconds() != 0) {
        const std::int64_t mtime = status.st_mtim.tv_sec;
        const std::int64_t ctime = status.st_ctim.tv_sec;
        const std::int64_t reference = m_referenceTime.Seconds();
        if ((m_useMTime && mtime >= reference) || (m_useCTime && ctime >= reference)) {
            FSLOG(5, "skipping new file [%s] as it already added to collect file, mtime=[%lld] ctime=[%lld] ref_time=[%lld]",
                  path.c_str(), static_cast<long long>(mtime), static_cast<long long>(ctime),
                  static_cast<long long>(reference));
            return CKxError::Success();
        }
    }
    if (aclOnly)
        FSLOG(3, "ACL only item [%s]", path.c_str());

    const bool folder = checked ? S_ISDIR(status.st_mode) : !isFile;
    std::string line = escapeFileName(path);
    if (folder && line.back() != '/')
        line.push_back('/');
    const std::uint64_t size = checked && S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
    CKxError written = Write(line, false, size);
    if (written.IsError())
        return std::move(
            written.Push(KxFormat("failed to add deleted item [%s] to collect, error=%s", path.c_str(),
                                  written.Message().c_str())));
    ++m_added;

    return RecordAdded(path, isFile, record, m_deletedItemsCollectNumber);
}

CKxError CDeletedItemCallback::RecordAdded(const std::string& path, bool isFile, const FVBasePtr& record,
                                           int collectNumber)
{
    // The record now says where the item went, so a restarted scan finds it taken.
    const CDirChangeItemInfo* info = Info(record);
    auto updated = std::make_shared<CDirChangeItemInfoImpl>(
        true, collectNumber, info ? info->GetBackupFrequency() : eDirChangeItemBackupFrequencyNone,
        info && info->IsACLOnly());
    if (CKxError added = IncrementalDirChange::AddItem(path, updated, isFile); added.IsError())
        return std::move(added.Push(KxFormat("Error while writing %s to dirChange", path.c_str())));
    return CKxError::Success();
}
