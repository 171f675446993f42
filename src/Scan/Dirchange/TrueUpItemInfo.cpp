#include "Scan/Dirchange/TrueUpItemInfo.h"

#include <cstdlib>

CTrueUpItemInfo::CTrueUpItemInfo() = default;

CTrueUpItemInfo::CTrueUpItemInfo(long long mtime, long long ctime, std::uint64_t size, char kind)
    : m_mtime(mtime), m_ctime(ctime), m_size(size), m_kind(kind)
{
}

CTrueUpItemInfo::~CTrueUpItemInfo() = default;

CKxError CTrueUpItemInfo::ParseFields(const std::vector<std::string>& fields)
{
    KX_RETURN_IF_ERROR(CDirChangeItemInfo::ParseFields(fields));
    for (const std::string& field : fields) {
        if (field.size() < 4 || field[0] != '<' || field[3] != '>')
            continue;
        const char* value = field.c_str() + 4;
        if (HasTag(field, "<MT>"))
            m_mtime = std::strtoll(value, nullptr, 10);
        else if (HasTag(field, "<CT>"))
            m_ctime = std::strtoll(value, nullptr, 10);
        else if (HasTag(field, "<SZ>"))
            m_size = std::strtoull(value, nullptr, 10);
        else if (HasTag(field, "<KD>"))
            m_kind = *value;
    }
    return CKxError::Success();
}
