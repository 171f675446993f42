#include "Scan/ProcessFailedFiles.h"

#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Base/OutputSync.h"
#include "CollectFile/OwedItemLine.h"
#include "CollectFile/OwedListWriter.h"
#include "Scan/OwedItemFeeder.h"
#include "Scan/ScanJobCallback.h"

namespace {
constexpr const char* kSkipKey = "nSkipFailedFiles";
}  // namespace

CProcessFailedFiles::CProcessFailedFiles(std::string list, bool deletionLines)
    : m_list(std::move(list)), m_deletionLines(deletionLines)
{
}

CKxError CProcessFailedFiles::TakeList(const std::string& inProgress, bool& any)
{
    const bool fresh = FXFile::Exists(m_list);
    const bool left = FXFile::Exists(inProgress);
    any = fresh || left;
    if (!fresh)
        return CKxError::Success();
    // The list the backup phase wrote becomes the one in progress before a single item is fed:
    // the phase that follows writes a new list of its own and deletes this one only when it
    // took every item.
    if (left) {
        FSLOG(0, "Failed file list %s is still owed; adding %s to it", inProgress.c_str(), m_list.c_str());
        COwedListWriter joined(inProgress, true);
        KX_RETURN_IF_ERROR(joined.AppendFile(m_list));
        KX_RETURN_IF_ERROR(joined.Commit());
        KX_RETURN_IF_ERROR(FXFile::Remove(m_list));
    } else {
        KX_RETURN_IF_ERROR(FXFile::Rename(m_list, inProgress));
    }
    return COutputSync::SyncFolder(FXPath::Parent(m_list));
}

CKxError CProcessFailedFiles::Run(CScanJobCallback& callback)
{
    if (std::uint32_t skip = 0; ZVPlatformInfo::getNumber("FileSystemAgent", kSkipKey, skip) && skip != 0) {
        FSLOG(0, "Processing failed file list is skipped via additional setting  %s", kSkipKey);
        return CKxError::Success();
    }
    const std::string inProgress = m_list + kInProgressSuffix;
    bool any = false;
    KX_RETURN_IF_FAILED(TakeList(inProgress, any), "Failed to take the failed file list [%s]", m_list.c_str());
    if (!any) {
        FSLOG(0, "There is no failed file list (%s)", m_list.c_str());
        return CKxError::Success();
    }
    FSLOG(0, "Processing failed file list from %s", inProgress.c_str());
    COwedItemFeeder feeder(callback, m_deletionLines, true);
    std::uint64_t processed = 0;
    KX_RETURN_IF_FAILED(feeder.FeedList(inProgress, &COwedItemLine::ParseFailedLine,
                                        "Failed to process failed file entry [%s], error=%s",
                                        [](const std::string&, const COwedItemLine&) { return true; }, processed),
                        "Failed to process the failed file list [%s]", inProgress.c_str());
    FSLOG(0, "Processed [%llu] failed files from %s", static_cast<unsigned long long>(processed), inProgress.c_str());
    return CKxError::Success();
}
