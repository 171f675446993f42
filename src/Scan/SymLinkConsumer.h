#pragma once
// CSymLinkConsumer: with symbolic links followed ("SC:FollowSymLink"), hands every link met
// to the callback, which queues its target for a pass of its own (OnSymLink). The link itself
// is passed on and backed up as a link. A link that cannot be read is answered with the read
// error (the item carries its error number: it goes to the failure list).
//
// Ownership: one per chain; the callback outlives it. Thread: stateless; any thread.
#include "Engine/ItemConsumerChain.h"

class CScanJobCallback;

class CSymLinkConsumer : public CItemConsumerChain {
public:
    CSymLinkConsumer(CItemConsumerPtr next, CScanJobCallback& callback, long long jobId = 0);
    ~CSymLinkConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    CScanJobCallback& m_callback;
};
