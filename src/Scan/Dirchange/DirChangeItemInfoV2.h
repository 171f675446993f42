#pragma once
// CDirChangeItemInfoV2: the version 2 directory-change record: the version 1 fields and, first,
// the item's reference time (its last change time when it was recorded), written "|<RT>n" in
// seconds since 1970. Scans that compare times with the previous record itself use it; the
// file-system scan writes version 1.
//
// Thread: as CDirChangeItemInfo.
#include "Base/TimeStamp.h"
#include "Scan/Dirchange/DirChangeItemInfo.h"

class CDirChangeItemInfoV2 : public CDirChangeItemInfo {
public:
    ~CDirChangeItemInfoV2() override;

    // The version 1 fields, then "<RT>" (any case) with automatic base, as seconds since 1970.
    [[nodiscard]] CKxError ParseFields(const std::vector<std::string>& fields) override;
    virtual const CTimeStamp& GetRefTime() const;
    virtual void SetRefTime(const CTimeStamp& refTime);

protected:
    CDirChangeItemInfoV2() = default;
    CDirChangeItemInfoV2(const CTimeStamp& refTime, bool selected, int collectFileId,
                         eDirChangeItemBackupFrequency frequency, bool aclOnly);

private:
    CTimeStamp m_refTime;
};

using CDirChangeItemInfoV2Ptr = std::shared_ptr<CDirChangeItemInfoV2>;
