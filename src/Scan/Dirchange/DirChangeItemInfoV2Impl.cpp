#include "Scan/Dirchange/DirChangeItemInfoV2Impl.h"

CDirChangeItemInfoV2Impl::CDirChangeItemInfoV2Impl() = default;

CDirChangeItemInfoV2Impl::CDirChangeItemInfoV2Impl(const CTimeStamp& refTime, bool selected, int collectFileId,
                                                   eDirChangeItemBackupFrequency frequency, bool aclOnly)
    : CDirChangeItemInfoV2(refTime, selected, collectFileId, frequency, aclOnly)
{
}

CDirChangeItemInfoV2Impl::~CDirChangeItemInfoV2Impl() = default;
