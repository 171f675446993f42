#include "Scan/Dirchange/DirChangeItemInfoImpl.h"

CDirChangeItemInfoImpl::CDirChangeItemInfoImpl() = default;

CDirChangeItemInfoImpl::CDirChangeItemInfoImpl(bool selected, int collectFileId,
                                               eDirChangeItemBackupFrequency frequency, bool aclOnly)
    : CDirChangeItemInfo(selected, collectFileId, frequency, aclOnly)
{
}

CDirChangeItemInfoImpl::~CDirChangeItemInfoImpl() = default;
