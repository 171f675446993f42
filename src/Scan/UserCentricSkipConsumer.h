#pragma once
// CUserCentricSkipConsumer: a user-centric job backs up only what the impersonated user may
// read. An item read from the file system that the user does not own, and that a read-access
// check refuses with EACCES, is dropped ("Impersonate UID [%lu] and item UID [%u] differs for
// [%s] and has no read access"); any other outcome passes.
//
// The check asks the kernel with the process's real ids, which impersonation has switched to
// the user before the walk starts. Thread: stateless; any thread.
#include "Engine/ItemConsumerChain.h"

#include <cstdint>

class CUserCentricSkipConsumer : public CItemConsumerChain {
public:
    CUserCentricSkipConsumer(CItemConsumerPtr next, std::uint32_t uid, long long jobId = 0);
    ~CUserCentricSkipConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    std::uint32_t m_uid;
};
