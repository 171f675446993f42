#pragma once
// CHardLinkInterfaceV2: takes the hard-linked files out of the ordinary collect file and records
// them with the hard-link manager instead (see CHardLinkInterface). It must be built directly
// around the chain's last link, a CDirChangeCollectItemConsumer; built around anything else it
// reports so once and every later hard-linked file of the job goes the ordinary way.
#include "Scan/HardLink/HardLinkInterface.h"

class CDirChangeCollectItemConsumer;

class CHardLinkInterfaceV2 : public CHardLinkInterface {
public:
    CHardLinkInterfaceV2(CItemConsumerPtr next, std::shared_ptr<HardLinkManager> manager, int collectNumber,
                         long long jobId);
    ~CHardLinkInterfaceV2() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    // Stands in for the collect file of the last link: records what it selects.
    class CRecorder : public CItemConsumer {
    public:
        explicit CRecorder(CHardLinkInterface& owner) : m_owner(owner) {}
        [[nodiscard]] CKxError Process(const CItemPtr& item) override { return m_owner.registerWithHLTable(item); }

    private:
        CHardLinkInterface& m_owner;
    };

    CDirChangeCollectItemConsumer* m_stage = nullptr;
    CRecorder m_recorder{*this};
};
