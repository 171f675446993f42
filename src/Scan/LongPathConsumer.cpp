#include "Scan/LongPathConsumer.h"

#include "Agent/EvEvent.h"
#include "Base/HotPath.h"
#include "Base/LogWriter.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

#include <cerrno>
#include <mutex>

namespace {
std::mutex g_longPathEventsLock;  // guards g_longPathEvents
unsigned g_longPathEvents = 0;
}  // namespace

CLongPathConsumer::CLongPathConsumer(CItemConsumerPtr next, CScanJobCallback& callback, bool processLongPaths,
                                     std::string volume, long long jobId)
    : CItemConsumerChain(std::move(next), jobId),
      m_callback(callback),
      m_processLongPaths(processLongPaths),
      m_volume(std::move(volume))
{
}

CLongPathConsumer::~CLongPathConsumer() = default;

KX_HOT_PATH bool CLongPathConsumer::IsLongPath(const CItem& item)
{
    const size_t length = item.GetLocalFullyQualifiedItemName().size();
    return item.IsFolder() ? length > kMaxFolderPath : length > kMaxFilePath;
}

KX_HOT_PATH CKxError CLongPathConsumer::Process(const CItemPtr& item)
{
    if (!m_enabled.load(std::memory_order_relaxed) || !IsLongPath(*item))
        return CItemConsumerChain::Process(item);
    if (const CBagPtr& unitBag = item->GetWorkUnitBag();
        unitBag && unitBag->GetBool(SXScannerConfigurationBagId::idIsLongPathScan))
        return CItemConsumerChain::Process(item);

    const std::string& path = item->GetLocalFullyQualifiedItemName();
    if (!m_processLongPaths) {
        ReportLongPathName(path);
    } else {
        FSLOG(7, "Long path directory found. Adding it to LongPath Queue. %s", path.c_str());
        KX_RETURN_IF_FAILED(m_callback.OnLongPath(item, m_volume), "Failed to queue long path");
    }
    return CKxError(ENAMETOOLONG, KxFormat("Long path [%zu characters] diverted: %s", path.size(), path.c_str()));
}

std::string CLongPathConsumer::CompressPathString(const std::string& path, size_t maxLength, size_t shortLength)
{
    if (shortLength >= maxLength)
        return path;
    const size_t keep = shortLength / 2 + 6;
    if (path.size() <= 2 * keep)
        return path;
    return path.substr(0, keep) + ".........." + path.substr(path.size() - keep);
}

void CLongPathConsumer::ReportLongPathName(const std::string& path)
{
    bool raise = false;
    {
        std::lock_guard lock(g_longPathEventsLock);
        ++g_longPathEvents;
        raise = g_longPathEvents < kMaxLongPathEvents + 1;
    }
    FSLOG(0, "Path longer than %zu characters is not backed up: %s", kMaxFilePath, path.c_str());
    if (!raise)
        return;
    const std::string shortened = CompressPathString(path, kMaxFilePath, 260);
    CKxError raised = EvEvent::Raise(
        kEventLongPath, EvEvent::Major,
        KxFormat("Path exceeds the maximum length of %zu characters and is not backed up: %s", kMaxFilePath,
                 shortened.c_str()),
        {std::to_string(kMaxFilePath), shortened});
    if (raised.IsError())
        FSLOG_ERROR("%s", raised.AsString().c_str());
}

void CLongPathConsumer::ResetReportedLongPaths()
{
    std::lock_guard lock(g_longPathEventsLock);
    g_longPathEvents = 0;
}
