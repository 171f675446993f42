#pragma once
// CDeletedItemConsumer: writes the items a job found deleted into the job's deleted-items
// collect file, one line each: "??D" for a folder or "??d" for anything else, followed by the
// item's escaped source path (no trailing '/'). Each line counts as one item of that file
// (the statistics count them as deleted items). A write error is returned with this location.
//
// Ownership: shares the collect file with the output resource that holds it. Thread: the
// collect file keeps lines whole; any thread.
#include "Engine/ItemConsumer.h"

#include <memory>

class CFlatCollectFile;

class CDeletedItemConsumer : public CItemConsumer {
public:
    CDeletedItemConsumer(std::shared_ptr<CFlatCollectFile> deletedItems, long long jobId = 0);
    ~CDeletedItemConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    std::shared_ptr<CFlatCollectFile> m_deletedItems;
};
