#include "Scan/TrueUpCompareOptions.h"

bool CTrueUpCompareOptions::Differs(const CTrueUpItemInfo& disk, const CTrueUpItemInfo& indexed, bool stub) const
{
    if (stub && m_skipStubs)
        return false;
    if (disk.GetKind() != indexed.GetKind())
        return true;
    // A folder's size is no property of its own: the index keeps 0.
    if (disk.GetKind() != 'd' && disk.GetSize() != indexed.GetSize())
        return true;
    if (!m_skipMtime && disk.GetModificationTime() != indexed.GetModificationTime())
        return true;
    return !m_skipCtime && disk.GetChangeTime() != indexed.GetChangeTime();
}
