#include "Scan/ScannerSettings.h"

#include <cctype>

#include "Agent/ZVPlatformInfo.h"

bool CScannerSettings::GetNumber(const char* key, std::uint32_t& value)
{
    return ZVPlatformInfo::getNumber(kSection, key, value);
}

bool CScannerSettings::GetString(const char* key, std::string& value)
{
    return ZVPlatformInfo::getString(kSection, key, value);
}

bool CScannerSettings::GetPushedInt(const char* key, int& value)
{
    return ZVPlatformInfo::getRegInt(kPushedSection, key, value);
}

bool CScannerSettings::GetPushedNumber(const char* key, std::uint32_t& value)
{
    return ZVPlatformInfo::getNumber(kPushedSection, key, value);
}

bool CScannerSettings::IsSet(const char* key)
{
    std::uint32_t value = 0;
    return GetNumber(key, value) && value != 0;
}

bool CScannerSettings::StartsWith(const std::string& value, char upperLetter)
{
    return !value.empty() && std::toupper(static_cast<unsigned char>(value[0])) == upperLetter;
}

bool CScannerSettings::ReadInteger(const CBag& bag, const std::string& key, long long& value)
{
    std::any any;
    if (bag.ReadAny(key, any).IsError())
        return false;
    if (const int* v = std::any_cast<int>(&any))
        value = *v;
    else if (const unsigned int* v = std::any_cast<unsigned int>(&any))
        value = *v;
    else if (const long* v = std::any_cast<long>(&any))
        value = *v;
    else if (const unsigned long* v = std::any_cast<unsigned long>(&any))
        value = static_cast<long long>(*v);
    else if (const long long* v = std::any_cast<long long>(&any))
        value = *v;
    else if (const unsigned long long* v = std::any_cast<unsigned long long>(&any))
        value = static_cast<long long>(*v);
    else
        return false;
    return true;
}

long long CScannerSettings::GetInteger(const CBag& bag, const std::string& key, long long fallback)
{
    long long value = 0;
    return ReadInteger(bag, key, value) ? value : fallback;
}
