#include "Scan/OwedItemFeeder.h"

#include "Base/LogWriter.h"
#include "CollectFile/CollectFileReader.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/IncrFlatCollectFile.h"
#include "ContentContainer/ContentContainerBuffer.h"
#include "Engine/ConsumerAnswer.h"
#include "Engine/FindFirstItem.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/ItemBagId.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

#include <cerrno>
#include <sys/stat.h>

COwedItemFeeder::COwedItemFeeder(CScanJobCallback& callback, bool deletionLines, bool oncePerRun)
    : m_callback(callback), m_deletionLines(deletionLines), m_oncePerRun(oncePerRun)
{
}

COwedItemFeeder::~COwedItemFeeder() = default;

CKxError COwedItemFeeder::HandlerFor(const std::string& path, CConsumerOutputHandlerPtr& handler)
{
    const std::string volume = m_callback.VolumeOf(path);
    if (auto known = m_handlers.find(volume); known != m_handlers.end()) {
        handler = known->second;
        return CKxError::Success();
    }
    CKxError got = m_callback.GetOutputHandler(volume, handler);
    if (got.IsError() || !handler) {
        FSLOG(0, "Output handler is unconfigured for volume '%s'", volume.c_str());
        got = m_callback.GetOutputHandler("/", handler);
        if (got.IsError() || !handler) {
            FSLOG_ERROR("Output handler is unconfigured for volume '/'");
            if (got.IsSuccess())
                got = CKxError(KxCode::NotFound, KxFormat("No output handler for volume '%s'", volume.c_str()));
            return std::move(got.Push("GetOutputHandler failed"));
        }
    }
    m_handlers.emplace(volume, handler);
    return CKxError::Success();
}

bool COwedItemFeeder::IsListedByThisJob(const CItemPtr& item)
{
    if (!m_record && !m_database)
        for (const COutputResourcesPtr& resource : m_callback.GetOutputResourcesList()) {
            const CItemConsumerPtr& stage = resource->GetDirChangeConsumer();
            if ((m_record = std::dynamic_pointer_cast<IncrementalDirChange>(stage)) ||
                (m_database = std::dynamic_pointer_cast<CContentContainerBuffer>(stage)))
                break;
        }
    bool found = false;
    if (m_database)
        return m_database->CheckIfItemIsAddedToCollect(item->GetSourceFullyQualifiedItemName(), item->IsFolder(), found)
                   .IsSuccess() &&
               found;
    int collectFileId = 0;
    return m_record && m_record->CheckIfAddedToCollect(item, found, collectFileId).IsSuccess() && found;
}

CKxError COwedItemFeeder::WriteDeletion(const COwedItemLine& line, bool* written)
{
    if (written)
        *written = false;
    if (const IDirChangePtr& previous = m_callback.GetPreviousDirChangeInterface();
        previous && previous->Lookup(line.path, line.folder ? IDirChange::eFolder : IDirChange::eFile)) {
        FSLOG(3, "'%s' is in the previous record: its deletion is found by the comparison", line.path.c_str());
        return CKxError::Success();
    }
    std::shared_ptr<CIncrFlatCollectFile> deletions;
    int collectNumber = 0;
    KX_RETURN_IF_ERROR(m_callback.GetDeletedItemsCollectFile(deletions, collectNumber));
    FSLOG(0, "Writing '%s' to deleted collect files", line.path.c_str());
    std::string text = line.folder ? "??D" : "??d";
    escapeFileNameAppend(line.path, text);
    KX_RETURN_IF_FAILED(deletions->RawWriteDeletedItem(text), "Failed to record deleted item '%s'", line.path.c_str());
    if (written)
        *written = true;
    return CKxError::Success();
}

CKxError COwedItemFeeder::Feed(const COwedItemLine& line)
{
    if (m_oncePerRun && !m_fedPaths.insert(line.path).second) {
        ++m_alreadyListed;
        return CKxError::Success();
    }
    struct stat status {};
    if (::lstat(line.path.c_str(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            if (line.kind == COwedItemLine::EKind::Deleted && m_deletionLines)
                return WriteDeletion(line);
            FSLOG(0, "File '%s' not found.", line.path.c_str());
            return CKxError::Success();
        }
        return m_callback.ReportScanFailure(line.folder ? line.path + "/" : line.path,
                                            CKxError::FromErrno(error, KxFormat("Failed to read '%s'", line.path.c_str())));
    }
    auto item = std::make_shared<CFindFirstItem>(line.path, m_callback.GetSourcePath(line.path), status);
    if (IsListedByThisJob(item)) {
        ++m_alreadyListed;
        return CKxError::Success();
    }
    if (line.kind == COwedItemLine::EKind::AclOnly)
        KX_RETURN_IF_ERROR(item->GetBag().Write(SXBagId::idItemACLOnlyCommitOrFailed, true));
    else
        item->setNewInImage();
    CConsumerOutputHandlerPtr handler;
    KX_RETURN_IF_ERROR(HandlerFor(line.path, handler));
    const CKxError answer = handler->Process(item);
    switch (CConsumerAnswer::Classify(answer, *item)) {
    case EConsumerAnswer::Taken:
    case EConsumerAnswer::DoNotEnter:
        ++m_fed;
        return CKxError::Success();
    case EConsumerAnswer::SourceFailure:
        return m_callback.ReportScanFailure(item, answer);
    case EConsumerAnswer::WriteFailure:
        break;
    }
    CKxError failed = answer;
    return std::move(failed.Push(KxFormat("Failed to add owed item [%s]", line.path.c_str())));
}

CKxError COwedItemFeeder::FeedList(const std::string& path, Parse parse, const char* refused,
                                   const std::function<bool(const std::string& raw, const COwedItemLine&)>& take,
                                   std::uint64_t& processed)
{
    processed = 0;
    if (CBagPtr bag = m_callback.GetScannerConfigurationBag())
        KX_RETURN_IF_ERROR(bag->Write(SXScannerConfigurationBagId::idDontCreateSkipFSConsumer, true));
    CCollectFileReader reader;
    if (CKxError opened = reader.OpenCollectFile(path); opened.IsError())
        return std::move(opened.Push(KxFormat("Failed to open file '%s'", path.c_str())));
    std::string text;
    while (true) {
        KX_RETURN_IF_FAILED(reader.GetNextLine(text), "Failed to read [%s]", path.c_str());
        if (reader.IsEndOfFile())
            break;
        const std::string& raw = reader.GetCurrentRawLine();
        COwedItemLine line;
        if (CKxError parsed = parse(raw, line); parsed.IsError()) {
            FSLOG_ERROR(refused, raw.c_str(), parsed.AsString().c_str());
            continue;
        }
        if (line.kind == COwedItemLine::EKind::Skip || !take(raw, line))
            continue;
        // Feeding fails only when the job's own files cannot be written: nothing more can be added.
        KX_RETURN_IF_FAILED(Feed(line), "Failed to process entry [%s]", raw.c_str());
        ++processed;
    }
    FSLOG(3, "%llu owed items added, %llu listed by this job already", static_cast<unsigned long long>(m_fed),
          static_cast<unsigned long long>(m_alreadyListed));
    return CKxError::Success();
}
