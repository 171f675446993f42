#include "Scan/ProcessFailedFiles.h"

#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Base/OutputSync.h"
#include "CollectFile/CollectFileReader.h"
#include "CollectFile/OwedItemLine.h"
#include "CollectFile/OwedListWriter.h"
#include "Scan/OwedItemFeeder.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

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
    if (CBagPtr bag = callback.GetScannerConfigurationBag())
        KX_RETURN_IF_ERROR(bag->Write(SXScannerConfigurationBagId::idDontCreateSkipFSConsumer, true));

    CCollectFileReader reader;
    if (CKxError opened = reader.OpenCollectFile(inProgress); opened.IsError())
        return std::move(opened.Push(KxFormat("Failed to open file '%s'", inProgress.c_str())));
    FSLOG(0, "Processing failed file list from %s", inProgress.c_str());
    COwedItemFeeder feeder(callback, m_deletionLines, true);
    std::uint64_t processed = 0;
    std::string text;
    while (true) {
        KX_RETURN_IF_FAILED(reader.GetNextLine(text), "Failed to read the failed file list [%s]", inProgress.c_str());
        if (reader.IsEndOfFile())
            break;
        const std::string& raw = reader.GetCurrentRawLine();
        COwedItemLine line;
        if (CKxError parsed = COwedItemLine::ParseFailedLine(raw, line); parsed.IsError()) {
            FSLOG_ERROR("Failed to process failed file entry [%s], error=%s", raw.c_str(), parsed.AsString().c_str());
            continue;
        }
        if (line.kind == COwedItemLine::EKind::Skip)
            continue;
        // Feeding fails only when the job's own files cannot be written: nothing more can be added.
        KX_RETURN_IF_FAILED(feeder.Feed(line), "Failed to process failed file entry [%s]", raw.c_str());
        ++processed;
    }
    FSLOG(3, "%llu owed items added, %llu listed by this job already", static_cast<unsigned long long>(feeder.Fed()),
          static_cast<unsigned long long>(feeder.AlreadyListed()));
    FSLOG(0, "Processed [%llu] failed files from %s", static_cast<unsigned long long>(processed), inProgress.c_str());
    return CKxError::Success();
}
