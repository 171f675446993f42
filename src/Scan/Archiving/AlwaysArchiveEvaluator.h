#pragma once
// CAlwaysArchiveEvaluator: the archive evaluator of an ad hoc archiving job, whose content is the
// files the operator chose. No rules and no quota: every file is selected unless a stub filter
// holds it, another open file description holds a conflicting lock, another process has it open
// or mapped, or it is a stub already (marked offline), each refusal reported as
// CArchiveEvaluator reports it.
//
// Thread: as CArchiveEvaluator.
#include "Scan/Archiving/ArchiveEvaluator.h"

class CAlwaysArchiveEvaluator : public CArchiveEvaluator {
public:
    CAlwaysArchiveEvaluator(const std::string& volume, const CBag& bag, int blockSize,
                            std::shared_ptr<CStatsLogWriter> report);

    bool IsSelected(const CItemPtr& item) override;
};
