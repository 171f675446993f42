#pragma once
// CHardLinkInterfaceV1: passes every item down the chain, then records the hard-linked files the
// chain left selected (see CHardLinkInterface).
#include "Scan/HardLink/HardLinkInterface.h"

class CHardLinkInterfaceV1 : public CHardLinkInterface {
public:
    CHardLinkInterfaceV1(CItemConsumerPtr next, std::shared_ptr<HardLinkManager> manager, int collectNumber,
                         long long jobId);

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
};
