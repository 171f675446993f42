#include "Base/DecimalText.h"

#include <cerrno>
#include <cstdlib>

bool DecimalText::ParseSigned(const std::string& text, long long& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool DecimalText::ParseUnsigned(const std::string& text, unsigned long long& value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}
