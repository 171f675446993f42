#include "Scan/Archiving/ArchiveEvaluator.h"

#include "Agent/InstancePaths.h"
#include "Agent/StatsLogWriter.h"
#include "Agent/XHSMLowLevelCtx.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace Id = SXScannerConfigurationBagId;

namespace {
constexpr std::size_t kMaxFullName = 1024;  // a file's full name must be shorter
constexpr std::size_t kMaxFolderName = 959;
constexpr long long kSecondsPerDay = 86400;
constexpr int kGluster = 11;

std::once_flag g_quotaMetLogged;  // the quota message is printed once per process

std::uint64_t Unsigned(const CBag& bag, const char* key)
{
    return static_cast<std::uint64_t>(std::max(0LL, CScannerSettings::GetInteger(bag, key, 0)));
}

std::string Action(const std::string& path, const char* action, const std::string& reason)
{
    return KxFormat("File:[%s], Action:[%s], Reason:[%s]", path.c_str(), action, reason.c_str());
}

// Whole days from `then` to `reference`, truncated toward zero.
long long AgeInDays(const CTimeStamp& reference, const CTimeStamp& then)
{
    return (reference.Seconds() - then.Seconds()) / kSecondsPerDay;
}

// Each piece of `list`, split on `separator`, without empty pieces.
std::vector<std::string> Split(const std::string& list, char separator)
{
    std::vector<std::string> pieces;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(separator, start), list.size());
        if (end > start)
            pieces.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}
}  // namespace

CArchiveEvaluator::CArchiveEvaluator(const std::string& volume, const CTimeStamp& reference, const CBag& bag,
                                     long long bytesToFree, int blockSize, std::shared_ptr<CStatsLogWriter> report)
    : m_volume(volume),
      m_reference(reference),
      m_backupOnlyArchiveCandidate(bag.GetBool(Id::idBackupOnlyArchive)),
      m_accessedDays(Unsigned(bag, Id::idNumDaysAccessed)),
      m_modifiedDays(Unsigned(bag, Id::idNumDaysModified)),
      m_minFileSize(Unsigned(bag, Id::idMinFileSize)),
      m_maxFileSize(Unsigned(bag, Id::idMaxFileSize)),
      m_bytesToFree(bytesToFree),
      m_blockSize(blockSize),
      m_skipSmallerFiles(bag.GetBool(Id::idSkipSmallerFiles)),
      m_skipLockTest(bag.GetBool(Id::idSkipLockTest)),
      m_useNativeSnap(bag.GetBool(Id::idUseNativeSnap)),
      m_honorRetentionStubPruning(bag.GetBool(Id::isHonorArchiveRetentionStubPruning)),
      m_distributedAppType(static_cast<int>(CScannerSettings::GetInteger(bag, Id::idDistributedAppType, 0))),
      m_report(std::move(report))
{
    if (!bag.GetBool(Id::isDisableStubPruning))
        m_stubPruningOptions = static_cast<std::uint32_t>(Unsigned(bag, Id::idStubPruningOptions));
    if (CKxError filters = InitStubFilters(); filters.IsError())
        FSLOG_ERROR("InitStubFilters failed: %s", filters.AsString().c_str());
    if (CKxError extensions = InitExtensionList(bag.GetString(Id::idExtensionsForDiskCleanup)); extensions.IsError())
        FSLOG_ERROR("InitExtensionList failed: %s", extensions.AsString().c_str());
    if (m_skipSmallerFiles && m_distributedAppType == kGluster) {
        m_skipSmallerFiles = false;
        FSLOG(0, "Gluster archiving will archive small files too");
    }
}

CArchiveEvaluator::~CArchiveEvaluator() = default;

void CArchiveEvaluator::AddToStubbingReport(const std::string& line)
{
    if (m_report)
        m_report->Log(line);
}

bool CArchiveEvaluator::Refuse(const std::string& path, const std::string& reason)
{
    const std::string line = Action(path, "NotArchivingCandidate", reason);
    AddToStubbingReport(line);
    FSLOG(3, "%s", line.c_str());
    return false;
}

bool CArchiveEvaluator::Select(const std::string& path, const char* reason)
{
    const std::string line = Action(path, "StubbingCandidate", reason);
    AddToStubbingReport(line);
    FSLOG(5, "%s", line.c_str());
    return true;
}

CKxError CArchiveEvaluator::InitStubFilters()
{
    // The agent's own folders are never stubbed: the job reads and writes them.
    for (const std::string& folder :
         {CInstancePaths::TmpFolder(), CInstancePaths::InstanceFolder(), CInstancePaths::LogFilesFolder()})
        if (!folder.empty())
            KX_RETURN_IF_ERROR(m_stubFilters.AddFilterItem(folder + "/**"));
    std::string patterns, exceptions;
    if (ZVPlatformInfo::getString("FileSystemAgent", "sSTUB_PRUNE_PATTERNS", patterns))
        for (const std::string& piece : Split(patterns, ' ')) {
            FSLOG(0, "Adding [%s] to stub filters", piece.c_str());
            KX_RETURN_IF_ERROR(m_stubFilters.AddFilterItem(piece));
        }
    if (ZVPlatformInfo::getString("FileSystemAgent", "sSTUB_PRUNE_EXCEPTIONS", exceptions))
        for (const std::string& piece : Split(exceptions, ' ')) {
            FSLOG(0, "Adding [%s] to stub filter exception", piece.c_str());
            KX_RETURN_IF_ERROR(m_stubFilters.AddFilterExceptionItem(piece));
        }
    return CKxError::Success();
}

CKxError CArchiveEvaluator::InitExtensionList(const std::string& list)
{
    if (list.empty())
        return CKxError::Success();
    std::vector<std::string> pieces;
    for (std::string piece : Split(list, ',')) {
        piece.erase(0, piece.find_first_not_of(" *."));
        piece.erase(piece.find_last_not_of(' ') + 1);
        if (!piece.empty() && piece.find_first_of(" ") == std::string::npos)
            pieces.push_back(piece);
    }
    if (pieces.empty())
        return CKxError(KxCode::InvalidParameter, KxFormat("Couldn't parse invalid extension list [%s]", list.c_str()));
    m_extensions.emplace();
    for (const std::string& piece : pieces) {
        FSLOG(0, "Adding '%s' to Extensions rule filter", piece.c_str());
        CFilterTerm term;
        if (CKxError loaded = term.LoadRaw("*." + piece, true); loaded.IsError()) {
            FSLOG_ERROR("LoadRaw(%s) failed, erorr=%s", piece.c_str(), loaded.AsString().c_str());
            continue;
        }
        m_extensions->AddFilterTerm(std::move(term));
    }
    return CKxError::Success();
}

bool CArchiveEvaluator::MatchesExtensions(const CItem& item) const
{
    return !m_extensions || m_extensions->Contains(item.GetSourceFullyQualifiedItemName());
}

bool CArchiveEvaluator::IsFiltered(const CItem& item) const
{
    const std::string& path = item.GetSourceFullyQualifiedItemName();
    if (m_stubFilters.Contains(path)) {
        FSLOG(3, "Skipping File[%s] filtered by stub filers", path.c_str());
        return true;
    }
    FSLOG(5, "[%s] does not match any stub filters", path.c_str());
    return false;
}

bool CArchiveEvaluator::MayBecomeStub(const CItemPtr& itemPtr, const CFindFirstItem& file, const char* openReason)
{
    const std::string& path = file.GetSourceFullyQualifiedItemName();
    std::unique_ptr<CXHSMLowLevelCtx> context;
    if (CKxError opened =
            CXHSMLowLevelCtx::getByFileName(file.GetLocalFullyQualifiedItemName(), file.GetFindFirstRawData(), context);
        opened.IsError())
        return Refuse(path, opened.OneLine());
    if (!m_skipLockTest && !m_useNativeSnap && context->MandatoryLockTest() == 1) {
        FSLOG(3, "Skipping locked (mandatory lock) file [%s]", path.c_str());
        return Refuse(path, "mandatory lock exists on file");
    }
    bool stub = false;
    int state = CXHSMLowLevelCtx::kStateIdle;
    if (m_useNativeSnap) {
        stub = CXHSMLowLevelCtx::IsSparseFileStub(file.GetFindFirstRawData());
    } else if (CKxError info = context->GetStubInfo(stub, state); info.IsError()) {
        return Refuse(path, info.OneLine());
    }
    if (state == CXHSMLowLevelCtx::kStateOpenOrMapped)
        return Refuse(path, openReason);
    if (stub) {
        itemPtr->SetOffline(true);
        FSLOG(3, "Skipping stub [%s]", path.c_str());
        return Refuse(path, "already a stub");
    }
    return true;
}

bool CArchiveEvaluator::IsSelected(const CItemPtr& itemPtr)
{
    const CItem& item = *itemPtr;
    if (m_bytesToFree.load(std::memory_order_relaxed) <= 0) {
        std::call_once(g_quotaMetLogged, [this] {
            FSLOG(0, "Required data to archive has been collected for volume [%s]", m_volume.c_str());
        });
        return false;
    }
    const std::string& path = item.GetSourceFullyQualifiedItemName();
    const std::string& local = item.GetLocalFullyQualifiedItemName();
    if (item.IsFolder())
        return false;  // folders are never stubbed
    const std::size_t slash = local.rfind('/');
    if (local.size() >= kMaxFullName || (slash != std::string::npos && slash > kMaxFolderName))
        return false;
    if (m_distributedAppType == kGluster && ::access(local.c_str(), F_OK) != 0) {
        FSLOG(0, "File[%s] doesn't exist", path.c_str());
        return false;
    }
    const long long size = static_cast<long long>(item.GetFileSize());
    if (m_skipSmallerFiles && size < m_blockSize)
        return Refuse(path, KxFormat("smaller than file system block size (%lld<=%d)", size, m_blockSize));
    if (IsFiltered(item))
        return Refuse(path, "filtered");

    int votes = 0;
    std::string reason;
    const long long accessed = AgeInDays(m_reference, item.GetLastAccessTime());
    const long long modified = AgeInDays(m_reference, item.GetLastWriteTime());
    const bool accessVote = accessed >= static_cast<long long>(m_accessedDays);
    const bool modifyVote = modified >= static_cast<long long>(m_modifiedDays);
    if (accessVote && modifyVote) {
        votes += 2;
    } else {
        if (!accessVote)
            reason += KxFormat("accessed %lld days ago  < %llu days atime rule ", accessed,
                               static_cast<unsigned long long>(m_accessedDays));
        if (!modifyVote)
            reason += KxFormat("modified %lld days ago < %llu days mtime rule ", modified,
                               static_cast<unsigned long long>(m_modifiedDays));
    }
    const auto usize = static_cast<unsigned long long>(size);
    const auto minimum = static_cast<unsigned long long>(m_minFileSize);
    const auto maximum = static_cast<unsigned long long>(m_maxFileSize);
    if (maximum == 0) {
        if (usize >= minimum)
            ++votes;
        else
            reason += KxFormat("size %llu < %llu min size rule", usize, minimum);
    } else if (usize >= minimum && usize <= maximum) {
        ++votes;
    } else {
        reason += KxFormat(" %llu set as max size rule and ", maximum);
        if (usize < minimum)
            reason += KxFormat("size %llu < %llu min size rule ", usize, minimum);
        if (usize > maximum)
            reason += KxFormat("size %llu > %llu max size rule ", usize, maximum);
    }

    const auto* file = dynamic_cast<const CFindFirstItem*>(&item);
    if (votes < 3) {
        if (file && (m_backupOnlyArchiveCandidate || m_stubPruningOptions != 0 || m_honorRetentionStubPruning)) {
            std::unique_ptr<CXHSMLowLevelCtx> context;
            bool stub = false;
            if (CXHSMLowLevelCtx::getByFileName(local, file->GetFindFirstRawData(), context).IsSuccess() &&
                context->IsStub(stub).IsSuccess() && stub)
                itemPtr->SetOffline(true);
        }
        FSLOG(3, "Not an archive candidate file [%s], vote=[%d] skip_reason='%s'", path.c_str(), votes, reason.c_str());
        return Refuse(path, reason);
    }
    if (!MatchesExtensions(item))
        return Refuse(path, "does not match extension rules");
    if (!file) {
        FSLOG(0, "Dynamic cast failed CItem->CFindFirstItem");
        return Refuse(path, "not a file-system item");
    }

    if (!MayBecomeStub(itemPtr, *file, "file is open or memory-mapped"))
        return false;
    // Stubbing keeps one block of the file on disk.
    const long long saved = std::max(static_cast<long long>(item.GetSizeOnDisk()) - m_blockSize, 0LL);
    m_bytesToFree.fetch_sub(saved, std::memory_order_relaxed);
    return Select(path, "by disk-cleanup rules");
}
