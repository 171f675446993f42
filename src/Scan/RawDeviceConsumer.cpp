#include "Scan/RawDeviceConsumer.h"

#include "Base/HotPath.h"

CRawDeviceConsumer::CRawDeviceConsumer(CItemConsumerPtr next, long long jobId)
    : CItemConsumerChain(std::move(next), jobId)
{
}

CRawDeviceConsumer::~CRawDeviceConsumer() = default;

KX_HOT_PATH CKxError CRawDeviceConsumer::Process(const CItemPtr& item) { return CItemConsumerChain::Process(item); }
