#pragma once
// CRawDeviceConsumer: the link that lets raw devices (block devices named as content) through
// to the output stage whatever the links before the evaluator would say of a file. Raw devices
// are always recorded on the directory-change side: that side takes every item that reaches
// it, so nothing needs switching here, and every item is passed on unchanged. Directory-change
// writers that record files selectively will force raw devices in at this point.
//
// Thread: stateless; any thread.
#include "Engine/ItemConsumerChain.h"

class CRawDeviceConsumer : public CItemConsumerChain {
public:
    explicit CRawDeviceConsumer(CItemConsumerPtr next, long long jobId = 0);
    ~CRawDeviceConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
};
