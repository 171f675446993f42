#include "Engine/ItemEvaluator.h"

CItemEvaluator::~CItemEvaluator() = default;

bool CItemEvaluator::IsSelected(const CItemPtr&) { return true; }
