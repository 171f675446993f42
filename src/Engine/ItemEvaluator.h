#pragma once
// CItemEvaluator: a yes/no decision about an item. The base class selects every item (the
// "accept all" evaluator of the directory-change side of a chain).
//
// Thread: IsSelected may be called from several worker threads at once; implementations
// that keep state guard it or accept benign races they document.
#include "Engine/Item.h"

#include <memory>

class CItemEvaluator {
public:
    CItemEvaluator() = default;
    CItemEvaluator(const CItemEvaluator&) = delete;
    CItemEvaluator& operator=(const CItemEvaluator&) = delete;
    virtual ~CItemEvaluator();

    // May write to the item's bag and flags (for example mark it new in the image).
    virtual bool IsSelected(const CItemPtr& item);
};

using CItemEvaluatorPtr = std::shared_ptr<CItemEvaluator>;
