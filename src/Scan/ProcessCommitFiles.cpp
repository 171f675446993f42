#include "Scan/ProcessCommitFiles.h"

#include "Base/FXFile.h"
#include "Base/LogWriter.h"
#include "CollectFile/OwedItemLine.h"
#include "Scan/OwedItemFeeder.h"

CProcessCommitFiles::CProcessCommitFiles(std::string commitFile, bool deletionLines)
    : m_commitFile(std::move(commitFile)), m_deletionLines(deletionLines)
{
}

CKxError CProcessCommitFiles::Run(CScanJobCallback& callback)
{
    if (!FXFile::Exists(m_commitFile)) {
        FSLOG(0, "There is no commit file (%s)", m_commitFile.c_str());
        return CKxError::Success();
    }
    FSLOG(0, "Processing commit files from '%s'", m_commitFile.c_str());
    // The commit file names each owed item once; the walk's own listing is asked through the
    // record, so no path is kept here.
    COwedItemFeeder feeder(callback, m_deletionLines, false);
    std::string lastExtent;
    auto take = [&lastExtent](const std::string& raw, const COwedItemLine& line) {
        switch (line.kind) {
        case COwedItemLine::EKind::Extent:
            // The extents of one file follow each other; the file is owed once.
            if (line.path == lastExtent) {
                FSLOG(3, "skipping [%s]", raw.c_str());
                return false;
            }
            lastExtent = line.path;
            FSLOG(3, "Extent entry [%s], [%s]", raw.c_str(), line.path.c_str());
            break;
        case COwedItemLine::EKind::AclOnly: FSLOG(3, "ACL only entry [%s]", line.path.c_str()); break;
        case COwedItemLine::EKind::Container: FSLOG(3, "Container entry [%s]", line.path.c_str()); break;
        case COwedItemLine::EKind::HardLink: FSLOG(3, "Hlink entry [%s]", line.path.c_str()); break;
        default: break;
        }
        FSLOG(3, "Adding '%s'", line.path.c_str());
        return true;
    };
    std::uint64_t processed = 0;
    KX_RETURN_IF_FAILED(feeder.FeedList(m_commitFile, &COwedItemLine::ParseCommitLine, "Skipping commit entry [%s]: %s",
                                        take, processed),
                        "Failed to process the commit file [%s]", m_commitFile.c_str());
    FSLOG(0, "Total [%lld] files processed", static_cast<long long>(processed));
    return CKxError::Success();
}
