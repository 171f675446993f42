#include "Scan/HardLink/HardLinkInterfaceV2.h"

#include "Base/LogWriter.h"
#include "Engine/DirChangeCollectItemConsumer.h"
#include "Scan/HardLink/HardLinkManager.h"

CHardLinkInterfaceV2::CHardLinkInterfaceV2(CItemConsumerPtr next, std::shared_ptr<HardLinkManager> manager,
                                           int collectNumber, long long jobId)
    : CHardLinkInterface(std::move(next), std::move(manager), collectNumber, jobId)
{
    FSLOG(0, "Hard-link V2 is enabled");
    // Links between this one and the last would be skipped for the files recorded here.
    m_stage = dynamic_cast<CDirChangeCollectItemConsumer*>(GetNextConsumer().get());
    if (!m_stage && m_manager->ReportOnce()) {
        m_manager->ClearReportOnce();
        FSLOG_ERROR("Unable find instance of CDirChangeCollectItemConsumer");
    }
}

CHardLinkInterfaceV2::~CHardLinkInterfaceV2() = default;

CKxError CHardLinkInterfaceV2::Process(const CItemPtr& item)
{
    if (!m_stage || !IsHardLinked(*item) || !m_manager->ReportOnce())
        return CItemConsumerChain::Process(item);
    FSLOG(7, "hlink=%d for %s '%s' (%llu)", 1, "file", item->GetSourceFullyQualifiedItemName().c_str(),
          static_cast<unsigned long long>(item->GetLinkCount()));
    return m_stage->ProcessInto(item, &m_recorder);
}
