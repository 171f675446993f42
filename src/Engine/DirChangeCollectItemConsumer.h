#pragma once
// CDirChangeCollectItemConsumer: the last link of a volume's chain. It holds two
// evaluator/consumer pairs, in practice (accept-all, directory-change writer) and
// (backup-type evaluator, collect writer), plus an optional ancestor writer.
//
// Process(item):
//   1. the first evaluator rejects the item: success, the item goes nowhere;
//   2. the second evaluator decides and the item is marked selected or not; the ancestor writer
//      (when set) gets it either way (it learns the walk's roots from the items, and writes
//      lines only for roots), then the second consumer gets it when selected;
//   3. the first consumer gets it (it records the selection made in step 2).
// The first error stops the sequence and is returned with this location pushed; the
// processed count grows by one per item that passes step 1.
//
// Thread: as CItemConsumer. The pairs are fixed at construction; SetAncestorConsumer is
// called while the chain is built, before the engine uses it.
#include "Engine/ItemConsumer.h"
#include "Engine/ItemEvaluator.h"

class CDirChangeCollectItemConsumer : public CItemConsumer {
public:
    CDirChangeCollectItemConsumer(long long jobId, CItemEvaluatorPtr firstEvaluator,
                                  CItemConsumerPtr firstConsumer, CItemEvaluatorPtr secondEvaluator,
                                  CItemConsumerPtr secondConsumer);
    ~CDirChangeCollectItemConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    // The same sequence with `collect` in place of the second consumer, for a link that takes
    // some selected items elsewhere (the hard-linked files).
    [[nodiscard]] CKxError ProcessInto(const CItemPtr& item, CItemConsumer* collect);

    void SetAncestorConsumer(CItemConsumerPtr ancestors) { m_ancestors = std::move(ancestors); }
    const CItemConsumerPtr& GetAncestorConsumer() const { return m_ancestors; }
    const CItemEvaluatorPtr& GetFirstEvaluator() const { return m_firstEvaluator; }
    const CItemConsumerPtr& GetFirstConsumer() const { return m_firstConsumer; }
    const CItemEvaluatorPtr& GetSecondEvaluator() const { return m_secondEvaluator; }
    const CItemConsumerPtr& GetSecondConsumer() const { return m_secondConsumer; }

private:
    CItemEvaluatorPtr m_firstEvaluator;
    CItemConsumerPtr m_firstConsumer;
    CItemEvaluatorPtr m_secondEvaluator;
    CItemConsumerPtr m_secondConsumer;
    CItemConsumerPtr m_ancestors;
};

using CDirChangeCollectItemConsumerPtr = std::shared_ptr<CDirChangeCollectItemConsumer>;
