#pragma once
// CTrueUpCompareOptions: what makes an item on disk "different" from what the backup index
// holds of it, in a true-up: another kind, another size (files), another modification time
// unless that check is skipped ("JO:MTIME" off), another change time unless that check is
// skipped ("JO:CTIME" off, or access times preserved through "sPreserveATime": restoring an
// access time changes the change time of every file the backup read). Stubs (data moved to
// secondary storage) are never different when their check is skipped.
//
// Thread: values only; any thread.
#include "Scan/Dirchange/TrueUpItemInfo.h"

class CTrueUpCompareOptions {
public:
    CTrueUpCompareOptions() = default;
    CTrueUpCompareOptions(bool skipCtime, bool skipMtime, bool skipStubs)
        : m_skipCtime(skipCtime), m_skipMtime(skipMtime), m_skipStubs(skipStubs)
    {
    }

    // `disk` the job's record of the item, `indexed` the backup index's; `stub` the item is one.
    bool Differs(const CTrueUpItemInfo& disk, const CTrueUpItemInfo& indexed, bool stub = false) const;

private:
    bool m_skipCtime = false;
    bool m_skipMtime = false;
    bool m_skipStubs = false;
};
