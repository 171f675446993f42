#include "Scan/Dirchange/TrueUpItemInfo.h"

#include <charconv>

CTrueUpItemInfo::CTrueUpItemInfo() = default;

CTrueUpItemInfo::CTrueUpItemInfo(long long mtime, long long ctime, std::uint64_t size, char kind)
    : m_mtime(mtime), m_ctime(ctime), m_size(size), m_kind(kind)
{
}

CTrueUpItemInfo::~CTrueUpItemInfo() = default;

namespace {
// The decimal number after a field's four-character tag (0 when there is none).
template <typename Number>
Number After(const std::string& field)
{
    Number value = 0;
    std::from_chars(field.data() + 4, field.data() + field.size(), value);
    return value;
}
}  // namespace

CKxError CTrueUpItemInfo::ParseFields(const std::vector<std::string>& fields)
{
    // Every record of both files of a true-up comparison comes through here: the tags this
    // record adds are told apart by one character, the version 1 ones are left to the base.
    KX_RETURN_IF_ERROR(CDirChangeItemInfo::ParseFields(fields));
    for (const std::string& field : fields) {
        if (field.size() < 4 || field[0] != '<' || field[3] != '>')
            continue;
        switch (field[1] | 0x20) {
        case 'm': m_mtime = After<long long>(field); break;
        case 'c': m_ctime = HasTag(field, "<CT>") ? After<long long>(field) : m_ctime; break;
        case 's': m_size = After<std::uint64_t>(field); break;
        case 'k': m_kind = field.size() > 4 && HasTag(field, "<KD>") ? field[4] : m_kind; break;
        default: break;
        }
    }
    return CKxError::Success();
}
