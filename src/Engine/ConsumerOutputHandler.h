#pragma once
// CConsumerOutputHandler: one source volume's consumer chain as the engine holds it. The
// callback builds one per request (GetOutputHandler); the engine asks once per worker thread
// and work unit, so a handler is used by one thread at a time. Chains of one volume share
// that volume's writers, which guard themselves.
#include "Engine/ItemConsumer.h"

#include <memory>

class CConsumerOutputHandler {
public:
    explicit CConsumerOutputHandler(CItemConsumerPtr head) : m_head(std::move(head)) {}
    virtual ~CConsumerOutputHandler();

    // The chain's answer, unchanged; a handler without a chain takes every item.
    [[nodiscard]] virtual CKxError Process(const CItemPtr& item);
    const CItemConsumerPtr& GetConsumer() const { return m_head; }

private:
    CItemConsumerPtr m_head;
};

using CConsumerOutputHandlerPtr = std::shared_ptr<CConsumerOutputHandler>;
