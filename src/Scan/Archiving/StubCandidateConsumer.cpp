#include "Scan/Archiving/StubCandidateConsumer.h"

CStubCandidateConsumer::CStubCandidateConsumer(CItemConsumerPtr next, CItemEvaluatorPtr evaluator,
                                               CStubCollectFilePtr stubs, long long jobId)
    : CItemConsumerChain(std::move(next), jobId), m_evaluator(std::move(evaluator)), m_stubs(std::move(stubs))
{
}

CStubCandidateConsumer::~CStubCandidateConsumer() = default;

CKxError CStubCandidateConsumer::Process(const CItemPtr& item)
{
    if (item->IsRegularFile() && item->GetErrorNumber() == 0 && m_evaluator->IsSelected(item))
        KX_RETURN_IF_FAILED(m_stubs->Add(item->GetSourceFullyQualifiedItemName(), item->GetFileSize()),
                            "Failed to list the stub candidate [%s]", item->GetSourceFullyQualifiedItemName().c_str());
    return CItemConsumerChain::Process(item);
}
