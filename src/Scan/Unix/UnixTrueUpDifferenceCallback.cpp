#include "Scan/Unix/UnixTrueUpDifferenceCallback.h"

#include "Base/LogWriter.h"
#include "Scan/Dirchange/TrueUpItemInfo.h"

#include <cerrno>
#include <sys/stat.h>

namespace {
// This job's record of an item, when this walk wrote it and did not select the item.
const CTrueUpItemInfo* Unselected(const FVBasePtr& record)
{
    const auto* info = dynamic_cast<const CTrueUpItemInfo*>(record.get());
    return info && info->GetKind() != '\0' && !info->isSelected() ? info : nullptr;
}
}  // namespace

CUnixTrueUpDifferenceCallback::CUnixTrueUpDifferenceCallback(CScanJobCallback& callback,
                                                             CTrueUpCompareOptions options)
    : m_feeder(callback, true, false), m_options(options)
{
}

CUnixTrueUpDifferenceCallback::~CUnixTrueUpDifferenceCallback() = default;

CKxError CUnixTrueUpDifferenceCallback::OnInIndex1(const std::string& path, bool isFile, const FVBasePtr&)
{
    // Only what left the disk is deleted: the folders above the content, items the walk could
    // not read and items the filters now leave out are on disk still (the ordinary comparison
    // reports the last kind from the previous record).
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 || (errno != ENOENT && errno != ENOTDIR))
        return CKxError::Success();
    COwedItemLine line;
    line.kind = COwedItemLine::EKind::Deleted;
    line.path = path;
    line.folder = !isFile;
    bool written = false;
    KX_RETURN_IF_FAILED(m_feeder.WriteDeletion(line, &written), "TrueUp failed to process [%s]", path.c_str());
    if (written) {
        FSLOG(3, "TrueUp is deleting entry [%s], writing entry to [deleted items collect file]", path.c_str());
        ++m_deleted;
    }
    return CKxError::Success();
}

CKxError CUnixTrueUpDifferenceCallback::OnInIndex2(const std::string& path, bool isFile, const FVBasePtr& disk)
{
    const CTrueUpItemInfo* onDisk = Unselected(disk);
    return onDisk ? Take(path, isFile, *onDisk, true) : CKxError::Success();
}

CKxError CUnixTrueUpDifferenceCallback::OnInBothIndexes(const std::string& path, bool isFile, const FVBasePtr& indexed,
                                                        const FVBasePtr& disk)
{
    const CTrueUpItemInfo* onDisk = Unselected(disk);
    const auto* inIndex = dynamic_cast<const CTrueUpItemInfo*>(indexed.get());
    if (!onDisk || !inIndex || !m_options.Differs(*onDisk, *inIndex, false))
        return CKxError::Success();
    return Take(path, isFile, *onDisk, false);
}

CKxError CUnixTrueUpDifferenceCallback::Take(const std::string& path, bool isFile, const CTrueUpItemInfo& info,
                                             bool isNew)
{
    if (info.GetKind() == 'o') {
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) {
            FSLOG(3, "Skipping socket file [%s]", path.c_str());
            return CKxError::Success();
        }
    }
    COwedItemLine line;
    line.kind = COwedItemLine::EKind::Item;
    line.path = path;
    line.folder = !isFile;
    const std::uint64_t before = m_feeder.Fed();
    KX_RETURN_IF_FAILED(m_feeder.Feed(line), "TrueUp failed to process [%s]", path.c_str());
    if (m_feeder.Fed() != before) {
        FSLOG(3, "TrueUp wrote file [%s] to collect file, CollectField=[%d]", path.c_str(), info.GetCollectFileId());
        if (isNew && !isFile)
            ++m_newFolders;
    }
    return CKxError::Success();
}
