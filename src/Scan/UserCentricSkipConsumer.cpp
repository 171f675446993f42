#include "Scan/UserCentricSkipConsumer.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"

#include <cerrno>
#include <unistd.h>

CUserCentricSkipConsumer::CUserCentricSkipConsumer(CItemConsumerPtr next, std::uint32_t uid, long long jobId)
    : CItemConsumerChain(std::move(next), jobId), m_uid(uid)
{
}

CUserCentricSkipConsumer::~CUserCentricSkipConsumer() = default;

CKxError CUserCentricSkipConsumer::Process(const CItemPtr& item)
{
    const auto* found = dynamic_cast<const CFindFirstItem*>(item.get());
    if (found && found->GetOwnerId() != m_uid &&
        ::access(item->GetLocalFullyQualifiedItemName().c_str(), R_OK) != 0 && errno == EACCES) {
        FSLOG(7, "Impersonate UID [%lu] and item UID [%u] differs for [%s] and has no read access",
              static_cast<unsigned long>(m_uid), found->GetOwnerId(), item->GetSourceFullyQualifiedItemName().c_str());
        return CKxError::Success();
    }
    return CItemConsumerChain::Process(item);
}
