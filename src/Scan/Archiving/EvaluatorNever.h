#pragma once
// CEvaluatorNever: the archive evaluator of a volume with nothing to archive: it selects no
// item.
//
// Thread: stateless; any thread.
#include "Engine/ItemEvaluator.h"

class CEvaluatorNever : public CItemEvaluator {
public:
    bool IsSelected(const CItemPtr&) override { return false; }
};
