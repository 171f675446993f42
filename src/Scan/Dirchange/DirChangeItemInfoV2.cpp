#include "Scan/Dirchange/DirChangeItemInfoV2.h"

CDirChangeItemInfoV2::CDirChangeItemInfoV2(const CTimeStamp& refTime, bool selected, int collectFileId,
                                           eDirChangeItemBackupFrequency frequency, bool aclOnly)
    : CDirChangeItemInfo(selected, collectFileId, frequency, aclOnly), m_refTime(refTime)
{
}

CDirChangeItemInfoV2::~CDirChangeItemInfoV2() = default;

const CTimeStamp& CDirChangeItemInfoV2::GetRefTime() const { return m_refTime; }
void CDirChangeItemInfoV2::SetRefTime(const CTimeStamp& refTime) { m_refTime = refTime; }

CKxError CDirChangeItemInfoV2::ParseFields(const std::vector<std::string>& fields)
{
    KX_RETURN_IF_ERROR(CDirChangeItemInfo::ParseFields(fields));
    for (const std::string& field : fields)
        if (HasTag(field, "<RT>"))
            m_refTime = CTimeStamp(ParseAutoBase(std::string_view(field).substr(4)));
    return CKxError::Success();
}
