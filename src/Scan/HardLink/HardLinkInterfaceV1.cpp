#include "Scan/HardLink/HardLinkInterfaceV1.h"

#include "Base/LogWriter.h"

CHardLinkInterfaceV1::CHardLinkInterfaceV1(CItemConsumerPtr next, std::shared_ptr<HardLinkManager> manager,
                                           int collectNumber, long long jobId)
    : CHardLinkInterface(std::move(next), std::move(manager), collectNumber, jobId)
{
    FSLOG(0, "Hard-link V1 is enabled");
}

CKxError CHardLinkInterfaceV1::Process(const CItemPtr& item)
{
    CKxError passed = CItemConsumerChain::Process(item);
    if (passed.IsError() || !item->IsSelected() || !IsHardLinked(*item))
        return passed;
    return registerWithHLTable(item);
}
