#pragma once
// IDirChange: what a scan asks of the previous job's directory-change record while it walks:
// did the previous job record this path as this kind? The backup-type evaluator uses the
// answer to find items that appeared with old times (moved or copied in).
//
// Lookups are cheap when consecutive calls stay in one folder: an implementation loads a
// folder's previous entries once and answers the rest of that folder from memory.
//
// Thread: Lookup may be called from every worker thread at once. It never fails: a record that
// cannot be read answers "not found" (the item is then backed up, which is always safe), and
// the implementation logs the cause once.
#include "CollectFile/FVBase.h"

#include <string_view>

class IDirChange {
public:
    enum EKind : int { eFolder = 1, eFile = 2 };

    virtual ~IDirChange() = default;

    // `path`: the item's source path without a trailing '/'. When found and `record` is given,
    // it receives the previous record (parsed with the previous file's parser).
    virtual bool Lookup(std::string_view path, EKind kind, FVBasePtr* record = nullptr) = 0;
};

using IDirChangePtr = std::shared_ptr<IDirChange>;
