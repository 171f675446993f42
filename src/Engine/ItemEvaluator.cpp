#include "Engine/ItemEvaluator.h"

#include "Base/HotPath.h"

CItemEvaluator::~CItemEvaluator() = default;

KX_HOT_PATH bool CItemEvaluator::IsSelected(const CItemPtr&) { return true; }
