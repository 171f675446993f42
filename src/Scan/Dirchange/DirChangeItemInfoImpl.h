#pragma once
// CDirChangeItemInfoImpl: the version 1 directory-change record as the scan makes it, from
// values (IncrementalDirChange, one per item) or empty for the parser to fill.
#include "Scan/Dirchange/DirChangeItemInfo.h"

class CDirChangeItemInfoImpl : public CDirChangeItemInfo {
public:
    // Not selected, collect file 0, no frequency, not ACL only, not deleted.
    CDirChangeItemInfoImpl();
    CDirChangeItemInfoImpl(bool selected, int collectFileId, eDirChangeItemBackupFrequency frequency, bool aclOnly);
    ~CDirChangeItemInfoImpl() override;
};

using CDirChangeItemInfoImplPtr = std::shared_ptr<CDirChangeItemInfoImpl>;
