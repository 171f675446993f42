#include "Scan/Dirchange/DirChangeItemInfo.h"

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

namespace {
char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// strtoll/strtol over `text` without allocating for the short fields records hold.
long long ParseNumber(std::string_view text, int base)
{
    char buffer[32];
    std::string longer;
    const char* start = buffer;
    if (text.size() < sizeof buffer) {
        text.copy(buffer, text.size());
        buffer[text.size()] = '\0';
    } else {
        longer.assign(text);
        start = longer.c_str();
    }
    errno = 0;
    const long long value = std::strtoll(start, nullptr, base);
    return errno == ERANGE ? 0 : value;
}
}  // namespace

bool CDirChangeItemInfo::HasTag(std::string_view field, std::string_view tag)
{
    if (field.size() < tag.size())
        return false;
    // Records are read once per entry at every lookup and comparison: no locale here.
    for (size_t i = 0; i < tag.size(); ++i)
        if (FoldCase(field[i]) != FoldCase(tag[i]))
            return false;
    return true;
}

long long CDirChangeItemInfo::ParseAutoBase(std::string_view text) { return ParseNumber(text, 0); }

CKxError CDirChangeItemInfo::ParseFields(const std::vector<std::string>& fields)
{
    KX_RETURN_IF_ERROR(CDirChangeItemBaseInfo::ParseFields(fields));
    for (const std::string& field : fields) {
        const std::string_view text = field;
        if (HasTag(text, "<IS>")) {
            SetIsSelected(text.size() > 4 && text[4] == '1');
        } else if (HasTag(text, "<CI>")) {
            m_collectFileId = static_cast<std::int32_t>(ParseNumber(text.substr(4), 10));
        } else if (HasTag(text, "<BFQ>")) {
            SetBackupFrequency(static_cast<eDirChangeItemBackupFrequency>(ParseAutoBase(text.substr(5)) & kFrequencyMask));
        } else if (HasTag(text, "<ACL>")) {
            SetACLOnly(text.size() > 5 && text[5] == '1');
        }
    }
    return CKxError::Success();
}
