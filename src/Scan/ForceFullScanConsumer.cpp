#include "Scan/ForceFullScanConsumer.h"

#include "Base/FXPath.h"
#include "Base/LogWriter.h"

CForceFullScanConsumer::CForceFullScanConsumer(CItemConsumerPtr next, std::vector<std::string> paths, long long jobId)
    : CItemConsumerChain(std::move(next), jobId)
{
    for (const std::string& path : paths)
        if (!path.empty())
            m_paths.push_back(FXPath::TrimTrailingSlashes(path));
}

CForceFullScanConsumer::~CForceFullScanConsumer() = default;

CKxError CForceFullScanConsumer::Process(const CItemPtr& item)
{
    const std::string& source = item->GetSourceFullyQualifiedItemName();
    for (const std::string& path : m_paths)
        if (FXPath::IsUnder(source, path)) {
            FSLOG(5, "Found path %s under %s", source.c_str(), path.c_str());
            item->setNewInImage();
        }
    return CItemConsumerChain::Process(item);
}
