#include "Scan/Dirchange/ContentContainerComparisonCallback.h"

#include "Base/LogWriter.h"
#include "ContentContainer/ContentContainerFormatter.h"
#include "Scan/Dirchange/DirChangeItemInfoImpl.h"

CContentContainerComparisonCallback::CContentContainerComparisonCallback(long long jobId, unsigned long backupType,
                                                                         bool deduceDeletedItems, bool deduceNewItems,
                                                                         CScanJobCallback& callback)
    : CDeletedItemCallback(jobId, backupType, deduceDeletedItems, deduceNewItems, callback, nullptr)
{
}

CContentContainerComparisonCallback::~CContentContainerComparisonCallback() = default;

CKxError CContentContainerComparisonCallback::OnFolderInIndex1(const std::string& path)
{
    FSLOG(3, "Deleted Folder = [%s]", path.c_str());
    return OnInIndex1(path, false, nullptr);
}

CKxError CContentContainerComparisonCallback::OnFileInIndex1(const std::string& path)
{
    FSLOG(3, "Deleted File = [%s]", path.c_str());
    return OnInIndex1(path, true, nullptr);
}

CKxError CContentContainerComparisonCallback::OnFolderInIndex2(const std::string& path)
{
    FSLOG(3, "New Folder = [%s]", path.c_str());
    return CKxError::Success();
}

CKxError CContentContainerComparisonCallback::OnFileInIndex2(const std::string& path, std::string_view metadata)
{
    FSLOG(3, "New File : %s", path.c_str());
    const bool collected = CX::CContentContainerFormatter::HasCollectMark(metadata);
    if (collected)
        FSLOG(3, "The File %s has already been added to collect, so skipping it.", path.c_str());
    return OnInIndex2(path, true, std::make_shared<CDirChangeItemInfoImpl>(collected, 0,
                                                                           eDirChangeItemBackupFrequencyNone, false));
}

CKxError CContentContainerComparisonCallback::RecordAdded(const std::string& path, bool, const FVBasePtr&, int)
{
    m_added.push_back(path);
    return CKxError::Success();
}
