#include "Engine/DirChangeCollectItemConsumer.h"

#include "Base/HotPath.h"

CDirChangeCollectItemConsumer::CDirChangeCollectItemConsumer(long long jobId, CItemEvaluatorPtr firstEvaluator,
                                                             CItemConsumerPtr firstConsumer,
                                                             CItemEvaluatorPtr secondEvaluator,
                                                             CItemConsumerPtr secondConsumer)
    : CItemConsumer(jobId),
      m_firstEvaluator(std::move(firstEvaluator)),
      m_firstConsumer(std::move(firstConsumer)),
      m_secondEvaluator(std::move(secondEvaluator)),
      m_secondConsumer(std::move(secondConsumer))
{
}

CDirChangeCollectItemConsumer::~CDirChangeCollectItemConsumer() = default;

KX_HOT_PATH CKxError CDirChangeCollectItemConsumer::Process(const CItemPtr& item)
{
    return ProcessInto(item, m_secondConsumer.get());
}

KX_HOT_PATH CKxError CDirChangeCollectItemConsumer::ProcessInto(const CItemPtr& item, CItemConsumer* collect)
{
    if (m_firstEvaluator && !m_firstEvaluator->IsSelected(item))
        return CKxError::Success();
    IncrementProcessedItemsCount();

    // The selection is decided before the directory-change side records the item, because
    // that record keeps whether this job took the item.
    const bool selected = !m_secondEvaluator || m_secondEvaluator->IsSelected(item);
    item->SetSelected(selected);
    // The ancestor writer learns the walk's roots from the items; a root this job does not take
    // is still a root, or the first item taken below it would be mistaken for one.
    if (m_ancestors) {
        CKxError e = m_ancestors->Process(item);
        if (e.IsError())
            return std::move(e.Push("Ancestor writer failed for " + item->GetSourceFullyQualifiedItemName()));
    }
    if (selected) {
        if (collect) {
            CKxError e = collect->Process(item);
            if (e.IsError())
                return std::move(e.Push("Collect writer failed for " + item->GetSourceFullyQualifiedItemName()));
        }
    }
    if (m_firstConsumer) {
        CKxError e = m_firstConsumer->Process(item);
        if (e.IsError())
            return std::move(e.Push("Directory-change writer failed for " + item->GetSourceFullyQualifiedItemName()));
    }
    return CKxError::Success();
}
