#include "Engine/ConsumerOutputHandler.h"

CConsumerOutputHandler::~CConsumerOutputHandler() = default;

CKxError CConsumerOutputHandler::Process(const CItemPtr& item)
{
    if (!m_head)
        return CKxError::Success();
    return m_head->Process(item);
}
