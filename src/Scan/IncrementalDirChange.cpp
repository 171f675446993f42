#include "Scan/IncrementalDirChange.h"

#include "Agent/EvEvent.h"
#include "Base/FunctionTrace.h"
#include "Base/HotPath.h"
#include "Base/LogWriter.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "CollectFile/PathCacheFlatFileIndexBuffer.h"
#include "Scan/Dirchange/DirChangeItemFormatter.h"
#include "Scan/Dirchange/DirChangeItemFormatterV2.h"
#include "Scan/Dirchange/DirChangeItemInfoImpl.h"
#include "Scan/Dirchange/DirChangeItemInfoV2Impl.h"
#include "Scan/Dirchange/DirChangeItemParser.h"
#include "Scan/Dirchange/DirChangeItemParserV2.h"
#include "Scan/Dirchange/TrueUpItemFormatter.h"
#include "Scan/Dirchange/TrueUpItemParser.h"
#include "Scan/ItemBagId.h"
#include "Scan/ScannerSettings.h"

#include <cerrno>
#include <chrono>
#include <mutex>
#include <new>
#include <typeinfo>

namespace {
// The record of the job that runs in this process.
struct SJobRecord {
    std::mutex lock;  // guards index and parser
    std::shared_ptr<CPathCacheFlatFileIndex> index;
    CDirChangeItemBaseParserPtr parser;
};

SJobRecord& JobRecord()
{
    static SJobRecord record;
    return record;
}

std::atomic<bool> g_includeFiles{true};
std::atomic<bool> g_aclOnlyBackup{false};
std::atomic<long> g_maxPathLength{IncrementalDirChange::kDefaultMaxPathLength};

void RaiseWriteFailed(const std::string& file, const CKxError& error)
{
    if (CKxError raised = EvEvent::Raise(IncrementalDirChange::kEventWriteFailed, EvEvent::Major,
                                         KxFormat("Failed to write to '%s'", file.c_str()), {file});
        raised.IsError())
        FSLOG_ERROR("Failed to raise the write-failure event for '%s': %s (%s)", file.c_str(),
                    raised.AsString().c_str(), error.Message().c_str());
}

// The kind letter the backup index gives the item.
char KindOf(const CItem& item)
{
    return item.IsFolder() ? 'd' : item.IsRegularFile() ? 'f' : item.IsSymbolicLink() ? 'l' : 'o';
}

const char* Trimmed(const std::string& path, std::string& scratch)
{
    if (path.size() <= 1 || path.back() != '/')
        return path.c_str();
    scratch = path;
    while (scratch.size() > 1 && scratch.back() == '/')
        scratch.pop_back();
    return scratch.c_str();
}
}  // namespace

// ---- the job's record ------------------------------------------------------------------------

CKxError IncrementalDirChange::Init(long long jobId, const std::string& path, ContentMapperAPIPtr mapper, bool trueUp,
                                    bool itemInformation, bool version2)
{
    FSTRACE();
    Reset();
    auto index = std::shared_ptr<CPathCacheFlatFileIndex>(new (std::nothrow) CPathCacheFlatFileIndex());
    if (!index)
        return CKxError(KxCode::OutOfMemory, "Failed to allocate the directory-change record");
    index->SetIncludeFiles(g_includeFiles.load());
    CDirChangeItemBaseParserPtr parser;
    if (itemInformation) {
        index->SetItemInfoFormatter(std::make_shared<CDirChangeItemFormatter>());
        parser = std::make_shared<CDirChangeItemParser>();
    }
    if (trueUp) {
        // The true-up compares each item's times, size and kind with the backup index: its
        // records carry them (a superset of version 1, read by the next job as version 1).
        index->SetItemInfoFormatter(std::make_shared<CTrueUpItemFormatter>());
        parser = std::make_shared<CTrueUpItemParser>();
    }
    if (version2) {
        index->SetItemInfoFormatter(std::make_shared<CDirChangeItemFormatterV2>());
        parser = std::make_shared<CDirChangeItemParserV2>();
        index->SetAvoidLoadingEmptyItemInfo(true);
    }
    if (parser) {
        index->SetCurrentBackingFileParser(parser);
        index->SetPreviousBackingFileParser(parser);
    }
    // The file is made here, before the walk, so that a results folder we cannot write to is
    // found before any item is read.
    if (CKxError opened = index->SetCurrentBackingFile(path, std::move(mapper)); opened.IsError()) {
        if (CKxError raised = EvEvent::Raise(kEventOpenFailed, EvEvent::Major,
                                             KxFormat("Failed to open '%s' for writing", path.c_str()), {path});
            raised.IsError())
            FSLOG_ERROR("Failed to raise the open-failure event: %s", raised.AsString().c_str());
        return std::move(opened.Push(KxFormat("SetCurrentBackingFile failed, FileName=[%s]", path.c_str())));
    }
    FSLOG(0, "Directory-change record of job %lld is [%s] (records: %s)", jobId, path.c_str(),
          version2 ? "version 2" : (trueUp ? "true-up" : (parser ? "version 1" : "no fields")));
    SJobRecord& record = JobRecord();
    std::lock_guard lock(record.lock);
    record.index = std::move(index);
    record.parser = parser ? parser : std::make_shared<CDirChangeItemBaseParser>();
    return CKxError::Success();
}

void IncrementalDirChange::RaisePreviousRecordUnusable(const std::string& record, const std::string& cause,
                                                       const char* consequence)
{
    const std::string message = KxFormat("The previous directory-change record [%s] cannot be used (%s): %s",
                                         record.c_str(), cause.c_str(), consequence);
    if (CKxError raised = EvEvent::Raise(kEventPreviousRecordUnusable, EvEvent::Minor, message, {record, cause});
        raised.IsError())
        FSLOG_ERROR("Failed to raise the event [%s]: %s", message.c_str(), raised.AsString().c_str());
}

CKxError IncrementalDirChange::SetPreviousBackingFile(const std::string& path)
{
    std::shared_ptr<CPathCacheFlatFileIndex> index = GetIndex();
    if (!index)
        return CKxError(KxCode::InvalidParameter, KxFormat("No directory-change record to load [%s] into", path.c_str()));
    KX_RETURN_IF_FAILED(index->SetPreviousBackingFile(path, nullptr), "Failed to set previous backing file, FileName=[%s]",
                        path.c_str());
    return CKxError::Success();
}

void IncrementalDirChange::SetIncludeFiles(bool include)
{
    g_includeFiles.store(include);
    if (std::shared_ptr<CPathCacheFlatFileIndex> index = GetIndex())
        index->SetIncludeFiles(include);
}

bool IncrementalDirChange::IsIncludeFiles() { return g_includeFiles.load(); }
void IncrementalDirChange::SetMaxPathLength(long length) { g_maxPathLength.store(length); }
long IncrementalDirChange::GetMaxPathLength() { return g_maxPathLength.load(); }
void IncrementalDirChange::SetACLOnlyBackup(bool on) { g_aclOnlyBackup.store(on); }
bool IncrementalDirChange::IsACLOnlyBackup() { return g_aclOnlyBackup.load(); }

std::shared_ptr<CPathCacheFlatFileIndex> IncrementalDirChange::GetIndex()
{
    SJobRecord& record = JobRecord();
    std::lock_guard lock(record.lock);
    return record.index;
}

IDirChangePtr IncrementalDirChange::GetDirChangeInterface() { return GetIndex(); }

CDirChangeItemBaseParserPtr IncrementalDirChange::GetItemParser()
{
    SJobRecord& record = JobRecord();
    std::lock_guard lock(record.lock);
    return record.parser ? record.parser : std::make_shared<CDirChangeItemParser>();
}

CKxError IncrementalDirChange::AddItem(const std::string& path, const FVBasePtr& record, bool isFile)
{
    std::shared_ptr<CPathCacheFlatFileIndex> index = GetIndex();
    if (!index)
        return CKxError(6, KxFormat("No directory-change record to add [%s] to", path.c_str()));
    KX_RETURN_IF_FAILED(index->AddItem(path, record, isFile), "Failed to add [%s] to the directory-change record",
                        path.c_str());
    return CKxError::Success();
}

CKxError IncrementalDirChange::Compare(CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags)
{
    FSTRACE();
    std::shared_ptr<CPathCacheFlatFileIndex> index = GetIndex();
    if (!index)
        return CKxError(KxCode::InvalidParameter, "No directory-change record to compare");
    const auto started = std::chrono::steady_clock::now();
    KX_RETURN_IF_FAILED(index->Compare(callback, flags), "Failed to compare [%s] with [%s]",
                        index->GetCurrentBackingFilePath().c_str(), index->GetPreviousBackingFilePath().c_str());
    FSLOG(0, "Compared the directory-change records in %.3f s",
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return CKxError::Success();
}

CKxError IncrementalDirChange::CompareForDeletedItems(const std::string& previousPath,
                                                      CPathCacheFlatFileIndexCompareCallback& callback)
{
    FSTRACE();
    std::shared_ptr<CPathCacheFlatFileIndex> index = GetIndex();
    if (!index || !index->IsClosed())
        return CKxError(KxCode::InvalidParameter, "The directory-change record must be closed before it is compared");
    KX_RETURN_IF_FAILED(index->Close(), "Failed to close the directory-change record [%s]",
                        index->GetCurrentBackingFilePath().c_str());
    // The file is loaded once on its own first: a file that cannot be read is the caller's
    // "not there", not a failed comparison.
    CPathCacheFlatFileIndex probe;
    KX_RETURN_IF_FAILED(probe.SetPreviousBackingFile(previousPath, nullptr),
                        "error setting previous backing file for getting deleted items");
    auto parser = std::make_shared<CDirChangeItemParser>();
    KX_RETURN_IF_FAILED(CPathCacheFlatFileIndex::Compare(previousPath, index->GetCurrentBackingFilePath(), callback, 0,
                                                         parser, parser),
                        "Compare failed");
    return CKxError::Success();
}

void IncrementalDirChange::BeginClose()
{
    std::shared_ptr<CPathCacheFlatFileIndex> index = GetIndex();
    if (!index || index->IsClosed())
        return;
    FSLOG(0, "Closing DirChange in the background");
    index->BeginClose();
}

CKxError IncrementalDirChange::Close()
{
    std::shared_ptr<CPathCacheFlatFileIndex> index = GetIndex();
    if (!index)
        return CKxError::Success();
    // Also when closing began in the background: this waits for it and says how it went.
    FSLOG(0, "Closing DirChange");
    KX_RETURN_IF_FAILED(index->Close(), "Failed to close the directory-change record [%s]",
                        index->GetCurrentBackingFilePath().c_str());
    return CKxError::Success();
}

void IncrementalDirChange::Reset()
{
    SJobRecord& record = JobRecord();
    std::lock_guard lock(record.lock);
    record.index.reset();
    record.parser.reset();
}

// ---- one output stage ----------------------------------------------------------------------

IncrementalDirChange::IncrementalDirChange(CItemConsumerPtr next, long long consumerId, int collectFileId, bool trueUp,
                                           bool version2, long long jobId)
    : CItemConsumerChain(std::move(next), jobId),
      m_index(GetIndex()),
      m_consumerId(consumerId),
      m_collectFileId(collectFileId),
      m_trueUp(trueUp),
      m_version2(version2)
{
    if (!m_index)
        return;
    m_buffer = std::make_unique<CPathCacheFlatFileIndexBuffer>(m_index);
    // The formatters Init installs are known here: their text is made without a record object.
    // The version 2 formatter writes a stage's version 1 records as the version 1 one does.
    const CDirChangeItemBaseFormatter* formatter = m_index->GetItemInfoFormatter().get();
    const std::type_info& type = formatter ? typeid(*formatter) : typeid(void);
    if (type == typeid(CDirChangeItemFormatterV2))
        m_format = m_version2 ? EFormat::Version2 : EFormat::Version1;
    else if (type == typeid(CTrueUpItemFormatter))
        m_format = EFormat::TrueUp;
    else if (type == typeid(CDirChangeItemFormatter))
        m_format = EFormat::Version1;
    else if (type == typeid(CDirChangeItemBaseFormatter))
        m_format = EFormat::NoFields;
    else
        m_format = EFormat::Records;
}

IncrementalDirChange::~IncrementalDirChange() = default;

KX_HOT_PATH CKxError IncrementalDirChange::Process(const CItemPtr& item)
{
    if (m_buffer) {
        FSLOG(7, "Processing DirChange item [%lld]", m_consumerId);
        const bool isFolder = item->IsFolder();
        unsigned frequency = 0;
        bool aclOnly = false;
        if (item->HasBag()) {
            CBag& bag = item->GetBag();
            long long value = 0;
            if (CScannerSettings::ReadInteger(bag, SXBagId::idDirChangeItemBackupFrequency, value))
                frequency = static_cast<unsigned>(value);
            if (!isFolder && g_aclOnlyBackup.load(std::memory_order_relaxed))
                aclOnly = bag.GetBool(SXBagId::idDirChangeItemACLOnly);
        }
        const std::string& path = item->GetSourceFullyQualifiedItemName();
        FSLOG(5, "DC:::[%s]", path.c_str());
        CKxError added;
        if (m_format != EFormat::Records) [[likely]] {
            // The record text is made here, on the stack: no record object and no allocation.
            char text[CTrueUpItemFormatter::kMaxText];
            size_t length = 0;
            if (m_format == EFormat::Version2)
                length = CDirChangeItemFormatter::FormatRefTime(
                    static_cast<long long>(item->GetLastChangeTime().Seconds()), text);
            if (m_format != EFormat::NoFields)
                length += CDirChangeItemFormatter::FormatFields(item->IsSelected(), m_collectFileId, frequency, aclOnly,
                                                                text + length);
            if (m_format == EFormat::TrueUp)
                length += CTrueUpItemFormatter::FormatFields(
                    static_cast<long long>(item->GetLastWriteTime().Seconds()),
                    static_cast<long long>(item->GetLastChangeTime().Seconds()), isFolder ? 0 : item->GetFileSize(),
                    KindOf(*item), text + length);
            added = m_buffer->AddText(path, !isFolder, std::string_view(text, length), FXCodeLocation::Here(),
                                      "IncrementalDirChange");
        } else {
            added = AddRecord(path, isFolder, item->IsSelected(), item->GetLastChangeTime(), frequency, aclOnly);
        }
        if (added.IsError()) [[unlikely]] {
            const std::string& file = m_buffer->GetCurrentBackingFilePath();
            RaiseWriteFailed(file, added);
            return std::move(added.Push(KxFormat("Failed to write to '%s'", file.c_str())));
        }
    }
    return CItemConsumerChain::Process(item);
}

CKxError IncrementalDirChange::AddRecord(const std::string& path, bool isFolder, bool selected,
                                        const CTimeStamp& changeTime, unsigned frequency, bool aclOnly)
{
    // A formatter this stage does not know: the record goes through it as an object.
    FVBasePtr record;
    if (m_version2) {
        auto info = std::make_shared<CDirChangeItemInfoV2Impl>();
        info->SetRefTime(changeTime);
        info->SetIsSelected(selected);
        info->SetCollectFileId(m_collectFileId);
        info->SetBackupFrequency(static_cast<eDirChangeItemBackupFrequency>(frequency));
        info->SetACLOnly(aclOnly);
        record = std::move(info);
    } else {
        auto info = std::make_shared<CDirChangeItemInfoImpl>();
        info->SetIsSelected(selected);
        info->SetCollectFileId(m_collectFileId);
        info->SetBackupFrequency(static_cast<eDirChangeItemBackupFrequency>(frequency));
        info->SetACLOnly(aclOnly);
        record = std::move(info);
    }
    return isFolder ? m_buffer->AddFolder(path, FXCodeLocation::Here(), "IncrementalDirChange", record)
                    : m_buffer->AddFile(path, FXCodeLocation::Here(), "IncrementalDirChange", record);
}

CKxError IncrementalDirChange::FlushBuffer()
{
    if (!m_buffer || m_closed.load())
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_buffer->FlushBuffer(), "Failed to flush the directory-change buffer of collect file %d",
                        m_collectFileId);
    return CKxError::Success();
}

CKxError IncrementalDirChange::CloseFile()
{
    if (!m_buffer || m_closed.exchange(true))
        return CKxError::Success();
    FSLOG(3, "Closing DirChange file (buffer object)");
    KX_RETURN_IF_FAILED(m_buffer->CloseFile(), "Failed to close the directory-change buffer of collect file %d",
                        m_collectFileId);
    return CKxError::Success();
}

CKxError IncrementalDirChange::CheckIfProcessWithCurrentAttempt(const CItemPtr& item) const
{
    std::string scratch;
    const char* path = Trimmed(item->GetSourceFullyQualifiedItemName(), scratch);
    FSLOG(5, "checking if '%s' processed", path);
    if (m_index && m_index->LookupCurrent(path, item->IsFolder() ? IDirChange::eFolder : IDirChange::eFile))
        return CKxError::Success();
    return CKxError(KxCode::NotFound, KxFormat("'%s' is not in this job's directory-change record", path));
}

CKxError IncrementalDirChange::CheckIfAddedToCollect(const CItemPtr& item, bool& found, int& collectFileId) const
{
    found = false;
    collectFileId = 0;
    std::string scratch;
    const char* path = Trimmed(item->GetSourceFullyQualifiedItemName(), scratch);
    FSLOG(5, "checking if '%s' processed", path);
    FVBasePtr record;
    if (!m_index || !m_index->LookupCurrent(path, item->IsFolder() ? IDirChange::eFolder : IDirChange::eFile, &record)) {
        FSLOG(5, "Item not found in DirChange.");
        return CKxError(KxCode::NotFound, "Item not found in DirChange.");
    }
    FSLOG(5, "Item is present in DirChange.");
    auto info = std::dynamic_pointer_cast<CDirChangeItemInfo>(record);
    if (!info || !info->isSelected()) {
        FSLOG(5, "Item not found in collect file.");
        return CKxError(KxCode::NotFound, "Item not found in collect file.");
    }
    FSLOG(5, "Item is already added to collect file, skip %s", path);
    found = true;
    collectFileId = info->GetCollectFileId();
    return CKxError::Success();
}
