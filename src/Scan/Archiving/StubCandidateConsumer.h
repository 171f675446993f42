#pragma once
// CStubCandidateConsumer: the archiving link of a volume's chain. Each regular file the walk
// read is put to the volume's archive evaluator; a file it selects is listed in the job's stub
// collect file. Every item then goes on down the chain unchanged (the job backs up as a
// file-system job does).
//
// Thread: Process from every worker thread; the evaluator and the stub collect file are
// thread-safe.
#include "Engine/ItemConsumerChain.h"
#include "Engine/ItemEvaluator.h"
#include "Scan/Archiving/StubCollectFile.h"

class CStubCandidateConsumer : public CItemConsumerChain {
public:
    CStubCandidateConsumer(CItemConsumerPtr next, CItemEvaluatorPtr evaluator, CStubCollectFilePtr stubs,
                           long long jobId);
    ~CStubCandidateConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    CItemEvaluatorPtr m_evaluator;
    CStubCollectFilePtr m_stubs;
};
