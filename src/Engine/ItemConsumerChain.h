#pragma once
// CItemConsumerChain: a consumer with a next link. Process forwards the item to the next
// consumer and returns its answer; without a next consumer it returns success. Wrappers are
// built around the current head and become the new head, so the last one built sees an item
// first.
//
// Thread: as CItemConsumer; the next link is set before the chain is used and not changed
// while the engine runs.
#include "Engine/ItemConsumer.h"

class CItemConsumerChain : public CItemConsumer {
public:
    explicit CItemConsumerChain(CItemConsumerPtr next = nullptr, long long jobId = 0)
        : CItemConsumer(jobId), m_next(std::move(next))
    {
    }
    ~CItemConsumerChain() override;

    // Inline, so that a link forwarding an item costs its caller no extra call. The answer
    // travels back unchanged: the engine reads its code, and a location pushed here would only
    // lengthen every write-failure stack by one line per link.
    [[nodiscard]] CKxError Process(const CItemPtr& item) override
    {
        if (!m_next)
            return CKxError::Success();
        return m_next->Process(item);
    }

    const CItemConsumerPtr& GetNextConsumer() const { return m_next; }
    void SetNextConsumer(CItemConsumerPtr next) { m_next = std::move(next); }

private:
    CItemConsumerPtr m_next;
};

using CItemConsumerChainPtr = std::shared_ptr<CItemConsumerChain>;
