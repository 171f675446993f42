#include "Scan/FileSystemScanFailureConsumer.h"

#include "Agent/ApplicationId.h"
#include "Base/LogWriter.h"
#include "CollectFile/BackupOutConsumer.h"
#include "Base/FileNameEscaping.h"
#include "Scan/FileNameFactory.h"
#include "Scan/ZvErrorControl.h"

#include <charconv>

CFileSystemScanFailureConsumer::CFileSystemScanFailureConsumer(long long jobId, std::shared_ptr<CFileNameFactory> names)
    : CScanFailureConsumer(nullptr, jobId), m_names(std::move(names))
{
}

CFileSystemScanFailureConsumer::~CFileSystemScanFailureConsumer() = default;

CKxError CFileSystemScanFailureConsumer::Initialize()
{
    if (!m_names)
        return CKxError(KxCode::InvalidParameter, "No results-file names for the failed-items list");
    FSLOG(0, "Initialize failed item consumer");
    auto writer = std::make_shared<CBackupOutConsumer>(GetJobId(), m_names->ScanFailedItemsCollect());
    KX_RETURN_IF_FAILED(writer->Open(false), "Failed to open the failed-items list");
    std::lock_guard lock(m_writeLock);
    m_writer = std::move(writer);
    return CKxError::Success();
}

std::string CFileSystemScanFailureConsumer::GetFileName() const
{
    return m_names ? m_names->ScanFailedItemsCollect() : std::string();
}

bool CFileSystemScanFailureConsumer::IsSkipFailedItem(const CItemPtr&) const { return false; }

int CFileSystemScanFailureConsumer::ErrorCodeOf(CItem& item)
{
    int code = kDefaultErrorCode;
    if (item.HasBag()) {
        int bagCode = 0;
        if (item.GetBag().Read(CItem::ErrorCodeKey, bagCode).IsSuccess())
            code = bagCode;
    }
    return code;
}

std::string CFileSystemScanFailureConsumer::FormatLine(CItem& item)
{
    return FormatLine(item.IsFolder(), item.GetSourceFullyQualifiedItemName(), ErrorCodeOf(item));
}

std::string CFileSystemScanFailureConsumer::FormatLine(bool isFolder, std::string_view path, int code)
{
    std::string line = isFolder ? "folder " : "file ";
    escapeFileNameAppend(path, line);
    line += ':';
    line += std::to_string(code);
    line += '\n';
    return line;
}

CKxError CFileSystemScanFailureConsumer::ParseLine(std::string_view line, SFailedItem& item)
{
    constexpr std::string_view kFolder = "folder ", kFile = "file ";
    std::string_view rest = line;
    if (rest.starts_with(kFolder))
        rest.remove_prefix(kFolder.size());
    else if (rest.starts_with(kFile))
        rest.remove_prefix(kFile.size());
    else
        return CKxError(KxCode::InvalidData, "Failed-items line has no kind");
    const size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos)
        return CKxError(KxCode::InvalidData, "Failed-items line has no error code");
    // The code as written: no sign but '-', no leading zero, nothing out of range.
    const std::string_view codeText = rest.substr(colon + 1);
    int code = 0;
    auto [end, ec] = std::from_chars(codeText.data(), codeText.data() + codeText.size(), code);
    if (ec != std::errc() || end != codeText.data() + codeText.size() || std::to_string(code) != codeText)
        return CKxError(KxCode::InvalidData, "Failed-items line has a malformed error code");
    KX_RETURN_IF_FAILED(unescapeFileName(rest.substr(0, colon), item.path), "Failed-items line has a malformed path");
    item.isFolder = line.starts_with(kFolder);
    item.code = code;
    return CKxError::Success();
}

CKxError CFileSystemScanFailureConsumer::Process(const CItemPtr& item)
{
    if (IsSkipFailedItem(item))
        return CKxError::Success();
    std::lock_guard lock(m_writeLock);
    if (!m_writer)
        return CKxError::Success();
    const std::string& path = item->GetSourceFullyQualifiedItemName();
    FSLOG(3, "Process failed item '%s'", path.c_str());
    KX_RETURN_IF_FAILED(m_writer->RawWriteLine(FormatLine(*item)), "Failed to record failed item '%s'", path.c_str());
    if (!m_errorControl)
        return CKxError::Success();
    std::string pattern;
    const int code = ErrorCodeOf(*item);
    if (m_errorControl->IsSkipFromReporting(path, code, pattern)) {
        FSLOG(7, "Failed item, skipped from reporting. Pattern %s, error %d", pattern.c_str(), code);
        m_skippedFromReporting.fetch_add(1, std::memory_order_relaxed);
    }
    return CKxError::Success();
}

unsigned long long CFileSystemScanFailureConsumer::getProcessedItemsCount() const
{
    // The writer pointer is set once by Initialize, before the consumer is shared.
    const unsigned long long written = m_writer ? m_writer->getProcessedItemsCount() : 0;
    const unsigned long long skipped = m_skippedFromReporting.load(std::memory_order_relaxed);
    return written > skipped ? written - skipped : 0;
}

void CFileSystemScanFailureConsumer::SetZvErrorControl(const std::shared_ptr<ZVJobCtrlClient>& control,
                                                       const std::string& applicationId)
{
    ApplicationId application(applicationId);
    std::shared_ptr<Client> client = application.getClient();
    std::uint64_t clientId = 0;
    unsigned long appType = 0;
    if (!client || client->getClientId(clientId).IsError() || application.getAppType(appType).IsError()) {
        FSLOG(0, "Failed to get ClientId");
        return;
    }
    auto rules = std::make_shared<ZvErrorControl>(control, ZvErrorControl::kEntityClient, clientId, appType,
                                                  m_names ? m_names->WorkUnitDirChangeFolder() : std::string(),
                                                  ZvErrorControl::kPathTypeDefault);
    std::lock_guard lock(m_writeLock);
    m_errorControl = rules->HasRules() ? std::move(rules) : nullptr;
}

std::shared_ptr<ZvErrorControl> CFileSystemScanFailureConsumer::GetZvErrorControl()
{
    std::lock_guard lock(m_writeLock);
    return m_errorControl;
}

int CFileSystemScanFailureConsumer::EvaluateErrorRules(std::string& errorText, std::string& pattern)
{
    std::shared_ptr<ZvErrorControl> rules;
    {
        std::lock_guard lock(m_writeLock);
        rules = m_errorControl;
    }
    errorText.clear();
    pattern.clear();
    if (!rules)
        return ZvErrorControl::kNoDecision;
    // The list's lines are "<kind> <escaped path>:<code>": rules match the real path.
    return rules->GetJobDecisionFor(GetFileName(), errorText, pattern, ':',
                                    [](std::string_view line, char, std::string& path, long& code) {
                                        SFailedItem item;
                                        if (ParseLine(line, item).IsError())
                                            return false;
                                        path = std::move(item.path);
                                        code = item.code;
                                        return true;
                                    });
}

CKxError CFileSystemScanFailureConsumer::Flush()
{
    std::lock_guard lock(m_writeLock);
    if (!m_writer)
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_writer->File().Flush(), "Failed to flush the failed-items list '%s'",
                        m_writer->GetFileName().c_str());
    return CKxError::Success();
}
