#pragma once
// CDeletedItemConsumer: writes the items that arrive as deleted during a job into the job's
// deleted-items collect file (CScanJobCallback::GetDeletedItemsCollectFile), one line each:
// "??D" for a folder or "??d" for anything else, followed by the item's escaped source path
// (no trailing '/'). Each line counts as one item of that file (the statistics count them as
// deleted items). A write error is returned with this location.
//
// Ownership: shares the collect file with the output resource that holds it. Thread: the
// collect file keeps lines whole; any thread.
#include "Engine/ItemConsumer.h"

#include <memory>

class CIncrFlatCollectFile;

class CDeletedItemConsumer : public CItemConsumer {
public:
    CDeletedItemConsumer(std::shared_ptr<CIncrFlatCollectFile> deletedItems, long long jobId = 0);
    ~CDeletedItemConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    std::shared_ptr<CIncrFlatCollectFile> m_deletedItems;
};
