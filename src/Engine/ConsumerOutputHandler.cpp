#include "Engine/ConsumerOutputHandler.h"

#include "Base/HotPath.h"

CConsumerOutputHandler::~CConsumerOutputHandler() = default;

KX_HOT_PATH CKxError CConsumerOutputHandler::Process(const CItemPtr& item)
{
    if (!m_head)
        return CKxError::Success();
    return m_head->Process(item);
}
