#include "Scan/Dirchange/DirChangeItemInfo.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

CDirChangeItemInfo::CDirChangeItemInfo(bool selected, int collectFileId, eDirChangeItemBackupFrequency frequency,
                                       bool aclOnly)
    : m_collectFileId(collectFileId)
{
    SetIsSelected(selected);
    SetBackupFrequency(frequency);
    SetACLOnly(aclOnly);
}

CDirChangeItemInfo::~CDirChangeItemInfo() = default;

bool CDirChangeItemInfo::GetIsDeleted() const { return (m_flags & kDeleted) != 0; }
void CDirChangeItemInfo::SetIsDeleted(bool deleted) { SetFlag(kDeleted, deleted); }
bool CDirChangeItemInfo::isSelected() const { return (m_flags & kSelected) != 0; }
void CDirChangeItemInfo::SetIsSelected(bool selected) { SetFlag(kSelected, selected); }
int CDirChangeItemInfo::GetCollectFileId() const { return m_collectFileId; }
void CDirChangeItemInfo::SetCollectFileId(int collectFileId) { m_collectFileId = collectFileId; }
bool CDirChangeItemInfo::IsACLOnly() const { return (m_flags & kACLOnly) != 0; }
void CDirChangeItemInfo::SetACLOnly(bool aclOnly) { SetFlag(kACLOnly, aclOnly); }

eDirChangeItemBackupFrequency CDirChangeItemInfo::GetBackupFrequency() const
{
    return static_cast<eDirChangeItemBackupFrequency>(m_flags & kFrequencyMask);
}

void CDirChangeItemInfo::SetBackupFrequency(eDirChangeItemBackupFrequency frequency)
{
    m_flags = static_cast<std::uint8_t>((m_flags & ~kFrequencyMask) | (frequency & kFrequencyMask));
}

bool CDirChangeItemInfo::HasTag(std::string_view field, std::string_view tag)
{
    if (field.size() < tag.size())
        return false;
    for (size_t i = 0; i < tag.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(field[i])) != std::toupper(static_cast<unsigned char>(tag[i])))
            return false;
    return true;
}

long long CDirChangeItemInfo::ParseAutoBase(std::string_view text)
{
    // strtoll needs a terminated string; the fields are short.
    const std::string copy(text);
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), nullptr, 0);
    return errno == ERANGE ? 0 : value;
}

CKxError CDirChangeItemInfo::ParseFields(const std::vector<std::string>& fields)
{
    KX_RETURN_IF_ERROR(CDirChangeItemBaseInfo::ParseFields(fields));
    for (const std::string& field : fields) {
        const std::string_view text = field;
        if (HasTag(text, "<IS>")) {
            SetIsSelected(text.size() > 4 && text[4] == '1');
        } else if (HasTag(text, "<CI>")) {
            const std::string rest(text.substr(4));
            m_collectFileId = static_cast<std::int32_t>(std::strtol(rest.c_str(), nullptr, 10));
        } else if (HasTag(text, "<BFQ>")) {
            SetBackupFrequency(static_cast<eDirChangeItemBackupFrequency>(ParseAutoBase(text.substr(5)) & kFrequencyMask));
        } else if (HasTag(text, "<ACL>")) {
            SetACLOnly(text.size() > 5 && text[5] == '1');
        }
    }
    return CKxError::Success();
}
