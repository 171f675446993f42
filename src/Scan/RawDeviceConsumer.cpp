#include "Scan/RawDeviceConsumer.h"

CRawDeviceConsumer::CRawDeviceConsumer(CItemConsumerPtr next, long long jobId)
    : CItemConsumerChain(std::move(next), jobId)
{
}

CRawDeviceConsumer::~CRawDeviceConsumer() = default;

CKxError CRawDeviceConsumer::Process(const CItemPtr& item) { return CItemConsumerChain::Process(item); }
