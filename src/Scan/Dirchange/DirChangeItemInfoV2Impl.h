#pragma once
// CDirChangeItemInfoV2Impl: the version 2 directory-change record as a scan makes it, from
// values or empty for the parser to fill.
#include "Scan/Dirchange/DirChangeItemInfoV2.h"

class CDirChangeItemInfoV2Impl : public CDirChangeItemInfoV2 {
public:
    // Clear reference time, not selected, collect file 0, no frequency, not ACL only.
    CDirChangeItemInfoV2Impl();
    CDirChangeItemInfoV2Impl(const CTimeStamp& refTime, bool selected, int collectFileId,
                             eDirChangeItemBackupFrequency frequency, bool aclOnly);
    ~CDirChangeItemInfoV2Impl() override;
};

using CDirChangeItemInfoV2ImplPtr = std::shared_ptr<CDirChangeItemInfoV2Impl>;
