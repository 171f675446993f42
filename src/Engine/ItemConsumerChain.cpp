#include "Engine/ItemConsumerChain.h"

#include "Base/HotPath.h"

CItemConsumerChain::~CItemConsumerChain() = default;

KX_HOT_PATH CKxError CItemConsumerChain::Process(const CItemPtr& item)
{
    // The answer travels back unchanged: the engine reads its code, and a location pushed
    // here would only lengthen every write-failure stack by one line per link.
    if (!m_next)
        return CKxError::Success();
    return m_next->Process(item);
}
