#pragma once
// ZVPlatformInfo: the agent's settings store as the library reads it, by section
// ("FileSystemAgent", "~FileSystemAgent", "Plyborn", "Machines", "GlobalParams") and key.
//
// Every getter answers true when the key is present and its value has the asked type; then
// `value` is filled, otherwise it is left untouched. A missing key is never an error: callers
// keep their default. A present value that does not parse as the asked number type is
// treated as absent and logged with its origin (file and line) and key.
//
// Numbers: decimal, or hexadecimal with a 0x prefix, optionally surrounded by blanks;
// getNumber takes 0..4294967295, getRegInt -2147483648..2147483647 (a hexadecimal value up
// to 0xFFFFFFFF is taken as its 32-bit pattern).
//
// The process starts with the file-backed store (CFileSettingsStore following the focused
// instance). Tests may Install another store and RestoreFileBacked afterwards.
//
// Thread: all members may be called from any thread.
#include <cstdint>
#include <string>

#include "Agent/ISettingsStore.h"

class ZVPlatformInfo {
public:
    static bool getNumber(const std::string& section, const std::string& key, uint32_t& value);
    static bool getString(const std::string& section, const std::string& key, std::string& value);
    static bool getRegInt(const std::string& section, const std::string& key, int& value);
    // Writes the decimal value; true when the write succeeded (failures are logged).
    static bool setNumber(const std::string& section, const std::string& key, uint32_t value);
    static bool setString(const std::string& section, const std::string& key, const std::string& value);

    // True when setting "sClusterGroupClients" (section "Machines", names separated by blanks
    // or commas) lists `clientName`.
    static bool isClusterGroupClient(const std::string& clientName);

    static void Install(ISettingsStorePtr store);
    static void RestoreFileBacked();
    static ISettingsStorePtr Store();

    // Number parsing shared with tests; false when `text` is not a number of that range.
    static bool ParseUnsigned32(const std::string& text, uint32_t& value);
    static bool ParseSigned32(const std::string& text, int& value);
};
