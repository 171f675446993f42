#include "Agent/ZVPlatformInfo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "Agent/FileSettingsStore.h"
#include "Base/LogWriter.h"

namespace {
std::mutex g_storeLock;  // guards g_store
ISettingsStorePtr g_store;

ISettingsStorePtr CurrentStore()
{
    std::lock_guard lock(g_storeLock);
    if (!g_store)
        g_store = std::make_shared<CFileSettingsStore>();
    return g_store;
}

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// Parses a decimal or 0x-hexadecimal 64-bit number with an optional sign; false for anything else.
bool ParseInteger(const std::string& raw, bool& negative, unsigned long long& magnitude, bool& hex)
{
    std::string text = Trim(raw);
    negative = false;
    size_t pos = 0;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    hex = text.size() > pos + 2 && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X');
    int base = hex ? 16 : 10;
    if (hex)
        pos += 2;
    if (pos >= text.size())
        return false;
    for (size_t i = pos; i < text.size(); ++i) {
        char c = text[i];
        bool ok = (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!ok)
            return false;
    }
    errno = 0;
    magnitude = std::strtoull(text.c_str() + pos, nullptr, base);
    return errno != ERANGE;
}

bool GetText(const std::string& section, const std::string& key, std::string& value, std::string& where)
{
    return CurrentStore()->Get(section, key, value, where);
}
}  // namespace

bool ZVPlatformInfo::ParseUnsigned32(const std::string& text, uint32_t& value)
{
    bool negative = false, hex = false;
    unsigned long long magnitude = 0;
    if (!ParseInteger(text, negative, magnitude, hex) || (negative && magnitude != 0) || magnitude > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(magnitude);
    return true;
}

bool ZVPlatformInfo::ParseSigned32(const std::string& text, int& value)
{
    bool negative = false, hex = false;
    unsigned long long magnitude = 0;
    if (!ParseInteger(text, negative, magnitude, hex))
        return false;
    if (hex && !negative) {
        // A hexadecimal setting is a bit pattern: 0xFFFFFFFF is -1.
        if (magnitude > UINT32_MAX)
            return false;
        value = static_cast<int>(static_cast<uint32_t>(magnitude));
        return true;
    }
    if (negative) {
        if (magnitude > static_cast<unsigned long long>(INT_MAX) + 1)
            return false;
        value = static_cast<int>(-static_cast<long long>(magnitude));
        return true;
    }
    if (magnitude > static_cast<unsigned long long>(INT_MAX))
        return false;
    value = static_cast<int>(magnitude);
    return true;
}

bool ZVPlatformInfo::getNumber(const std::string& section, const std::string& key, uint32_t& value)
{
    std::string text, where;
    if (!GetText(section, key, text, where))
        return false;
    uint32_t parsed = 0;
    if (!ParseUnsigned32(text, parsed)) {
        FSLOG_ERROR("Setting [%s/%s] at [%s] is not a number [%s]; treated as not present", section.c_str(),
                    key.c_str(), where.c_str(), text.c_str());
        return false;
    }
    value = parsed;
    return true;
}

bool ZVPlatformInfo::getRegInt(const std::string& section, const std::string& key, int& value)
{
    std::string text, where;
    if (!GetText(section, key, text, where))
        return false;
    int parsed = 0;
    if (!ParseSigned32(text, parsed)) {
        FSLOG_ERROR("Setting [%s/%s] at [%s] is not a number [%s]; treated as not present", section.c_str(),
                    key.c_str(), where.c_str(), text.c_str());
        return false;
    }
    value = parsed;
    return true;
}

bool ZVPlatformInfo::getString(const std::string& section, const std::string& key, std::string& value)
{
    std::string where;
    return GetText(section, key, value, where);
}

bool ZVPlatformInfo::setNumber(const std::string& section, const std::string& key, uint32_t value)
{
    return setString(section, key, std::to_string(value));
}

bool ZVPlatformInfo::setString(const std::string& section, const std::string& key, const std::string& value)
{
    CKxError err = CurrentStore()->Set(section, key, value);
    if (err.IsError()) {
        FSLOG_ERROR("Failed to write setting [%s/%s]: %s", section.c_str(), key.c_str(), err.OneLine().c_str());
        return false;
    }
    return true;
}

bool ZVPlatformInfo::isClusterGroupClient(const std::string& clientName)
{
    std::string list;
    if (clientName.empty() || !getString("Machines", "sClusterGroupClients", list))
        return false;
    size_t pos = 0;
    while (pos < list.size()) {
        size_t begin = list.find_first_not_of(" \t,", pos);
        if (begin == std::string::npos)
            break;
        size_t end = list.find_first_of(" \t,", begin);
        if (end == std::string::npos)
            end = list.size();
        if (list.compare(begin, end - begin, clientName) == 0)
            return true;
        pos = end;
    }
    return false;
}

void ZVPlatformInfo::Install(ISettingsStorePtr store)
{
    std::lock_guard lock(g_storeLock);
    g_store = store ? std::move(store) : std::make_shared<CFileSettingsStore>();
}

void ZVPlatformInfo::RestoreFileBacked()
{
    std::lock_guard lock(g_storeLock);
    g_store = std::make_shared<CFileSettingsStore>();
}

ISettingsStorePtr ZVPlatformInfo::Store() { return CurrentStore(); }
