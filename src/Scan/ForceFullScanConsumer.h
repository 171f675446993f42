#pragma once
// CForceFullScanConsumer: content added to the subclient since the last backup
// ("SC:idForceFullScanContents") must be backed up whole, whatever its times say: every item
// at or below one of those paths is marked new in the image ("Found path"), which every
// evaluator selects. All items pass.
//
// Thread: read-only after construction; any thread.
#include "Engine/ItemConsumerChain.h"

#include <string>
#include <vector>

class CForceFullScanConsumer : public CItemConsumerChain {
public:
    CForceFullScanConsumer(CItemConsumerPtr next, std::vector<std::string> paths, long long jobId = 0);
    ~CForceFullScanConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    const std::vector<std::string>& GetPaths() const { return m_paths; }

private:
    std::vector<std::string> m_paths;  // trailing slashes removed
};
