#include "Scan/ChangeJournalScan.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "CollectFile/DirChangeFileLayout.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "Journal/JournalFormat.h"
#include "Journal/JournalReader.h"
#include "Journal/JournalSyncClient.h"
#include "Scan/ChangeJournalPlanner.h"
#include "Scan/JournalFolderPlan.h"
#include "Scan/PostProcessDirChange.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unordered_set>

namespace {
std::string ContentHash(const std::string& configPath)
{
    // The configuration names the content, its exceptions and the filters: any edit of it
    // makes the next incremental walk once, which is never wrong.
    std::string text;
    if (CKxError read = FXFile::ReadWholeFile(configPath, text); read.IsError())
        text = "unreadable: " + read.Message();
    char hex[17];
    std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(DirChangeFileLayout::Hash64(text)));
    return hex;
}

bool Identify(const std::string& path, std::uint64_t& device, std::uint64_t& inode, std::int64_t& born)
{
    struct statx status {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &status) != 0)
        return false;
    device = makedev(status.stx_dev_major, status.stx_dev_minor);
    inode = status.stx_ino;
    born = (status.stx_mask & STATX_BTIME) ? status.stx_btime.tv_sec : 0;
    return true;
}
}  // namespace

std::string CChangeJournalScan::PointsPath(const std::string& resultsFolder)
{
    return FXPath::Append(resultsFolder, CChangeJournalPoints::kFileName);
}

CKxError CChangeJournalScan::Begin(const SJob& job, int timeoutMs)
{
    m_resultsFolder = job.resultsFolder;
    m_point = SChangeJournalPoint{};
    m_point.time = std::time(nullptr);
    m_point.contentHash = ContentHash(job.configPath);
    m_plan = std::make_shared<CJournalFolderPlan>();

    CChangeJournalPlanner::SInput input;
    if (CKxError asked = CJournalSyncClient::Sync(job.instanceFolder, job.resultsFolder, timeoutMs, input.sync);
        asked.IsError())
        input.syncError = asked.Message();
    else if (input.sync.state == SJournalSyncPoint::Ok || input.sync.state == SJournalSyncPoint::Broken) {
        // A broken journal was rotated: the next scan reads the new one from here.
        m_point.runId = input.sync.runId;
        m_point.sequence = input.sync.sequence;
        m_point.offset = input.sync.offset;
    }
    if (job.full) {
        m_point.full = true;
        m_point.cause = "a full job reads everything";
        FSLOG(0, "Change journal: walking the content: %s", m_point.cause.c_str());
        return CKxError::Success();
    }
    std::vector<SChangeJournalPoint> points;
    if (CKxError loaded = CChangeJournalPoints::Load(PointsPath(job.resultsFolder), points); loaded.IsError())
        FSLOG_ERROR("%s", loaded.AsString().c_str());
    input.databaseRecord = !job.index;
    input.jobCause = job.walkCause;
    input.previousRecordPath = job.previousRecordPath;
    input.previousRecord = job.index ? job.index->GetPreviousIdentity() : std::string();
    input.contentHash = m_point.contentHash;
    input.stored = input.previousRecord.empty() ? nullptr : CChangeJournalPoints::Find(points, input.previousRecord);
    input.journalPath = FXPath::Append(job.resultsFolder, JournalFormat::kFileName);
    CChangeJournalPlanner::SDecision decision = CChangeJournalPlanner::Decide(input, CJournalReader::Read, Identify);
    if (decision.walk) {
        m_point.cause = std::move(decision.cause);
        return CKxError::Success();
    }
    m_point.journal = true;
    std::vector<std::string> read = std::move(decision.folders);
    read.insert(read.end(), input.stored->multiLinkFolders.begin(), input.stored->multiLinkFolders.end());
    read.insert(read.end(), input.stored->retryPaths.begin(), input.stored->retryPaths.end());
    m_plan = std::make_shared<CJournalFolderPlan>(job.index, std::move(read));
    return CKxError::Success();
}

CKxError CChangeJournalScan::Store(const CPathCacheFlatFileIndex& index, const std::string& failuresPath)
{
    if (!m_plan)
        return CKxError::Success();
    SChangeJournalPoint point = m_point;
    point.record = index.GetCurrentIdentity();
    if (point.record.empty())
        return CKxError(KxCode::InvalidParameter, "The journal point is stored only for a closed record");
    point.multiLinkFolders = m_plan->MultiLinkFolders();
    point.multiLinkFiles = m_plan->MultiLinkFiles();
    std::unordered_set<std::string> failed;
    KX_RETURN_IF_FAILED(CPostProcessDirChange::ReadFailedPaths(failuresPath, failed),
                        "Failed to store the journal point");
    point.retryPaths.assign(failed.begin(), failed.end());
    if (point.journal)
        FSLOG(0, "Change journal: %llu unchanged folders kept from the previous record, %llu passed through",
              static_cast<unsigned long long>(m_plan->KeptFolders()),
              static_cast<unsigned long long>(m_plan->PassedFolders()));
    return CChangeJournalPoints::Store(PointsPath(m_resultsFolder), std::move(point));
}
