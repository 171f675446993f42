#pragma once
// CScanEngine: one way of walking content. The arbiter offers each walk root of a work unit
// to the engines of the callback's list in order; the first that accepts it walks it.
// Engines for kinds of storage this system does not walk accept nothing.
//
// Thread: AcceptsRoot is const and may be called from any thread. Scan is called on one
// arbiter thread per work unit; an engine may run the unit's folder-level workers inside it
// and returns when they are all done. One engine object may scan several work units at once.
#include "Base/KxError.h"

#include <memory>
#include <string>
#include <vector>

class CScanContext;
class CWorkUnit;
class CWalkRoot;

class CScanEngine {
public:
    CScanEngine() = default;
    CScanEngine(const CScanEngine&) = delete;
    CScanEngine& operator=(const CScanEngine&) = delete;
    virtual ~CScanEngine();

    virtual std::string AsString() const = 0;
    virtual bool AcceptsRoot(const CWalkRoot& root) const = 0;
    // Walks the given roots of one work unit. Items go to the unit's output handlers, unreadable
    // items to the context's failure consumer. Returns success when the walk ran to its end or
    // was stopped by another unit's failure or an abort (the context holds the final status);
    // an error only for a failure of this walk that also stops the others.
    [[nodiscard]] virtual CKxError Scan(CScanContext& context, CWorkUnit& unit,
                                        const std::vector<const CWalkRoot*>& roots) = 0;
};

using CScanEnginePtr = std::shared_ptr<CScanEngine>;
using CScanEngineList = std::vector<CScanEnginePtr>;
