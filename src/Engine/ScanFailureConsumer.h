#pragma once
// CScanFailureConsumer: where the engine sends items it could not read (a folder that cannot
// be opened, an entry that vanished between listing and status, an I/O error, a content path
// that does not exist, a folder changed during the scan: ESTALE). Each such item arrives with its error number set
// (CItem::GetErrorNumber, and "errorCode" in its bag) and, when known, its kind.
//
// An error returned from Process means the failure list itself could not be written: the
// engine stops the walk and makes it the final status, since a failure that is not recorded
// is an item silently lost.
//
// Thread: Process is called from every worker thread; implementations serialise their
// writer.
#include "Engine/ItemConsumerChain.h"

class CScanFailureConsumer : public CItemConsumerChain {
public:
    using CItemConsumerChain::CItemConsumerChain;
    ~CScanFailureConsumer() override;

    // Sets the item's error number and passes it to Process: what the engine does for every
    // unreadable item, and what callers replaying failed paths may do too.
    [[nodiscard]] CKxError ReportItemFailure(const CItemPtr& item, int errorNumber);
};

using CScanFailureConsumerPtr = std::shared_ptr<CScanFailureConsumer>;
