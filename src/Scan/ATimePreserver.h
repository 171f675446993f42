#pragma once
// CATimePreserver: a source of per-file change times kept apart from the file system (a
// database of change times a job restores access times with). When a volume has one, the
// backup-type evaluator lets it decide about regular files whose change time alone is newer
// than the reference time. None is made on this platform unless a job installs one.
//
// Thread: IsSelected may be called from every worker thread at once.
#include "Engine/Item.h"

#include <memory>

class CATimePreserver {
public:
    virtual ~CATimePreserver() = default;

    // True: the item changed since the reference time and is backed up.
    virtual bool IsSelected(const CItemPtr& item) = 0;
};

using CATimePreserverPtr = std::shared_ptr<CATimePreserver>;
