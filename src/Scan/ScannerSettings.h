#pragma once
// CScannerSettings: the small reading and writing habits the scanner options share.
//
// Agent settings: a number key counts as set when it is present and non-zero; string switches
// are tested on their first character. A missing or unparsable key is never an error: the
// caller's default applies.
// Bag: a configuration value is written with the exact type its readers use; integers that
// other stages write (job type, client app type) are read whatever integer type they carry.
//
// Thread: any thread.
#include <cstdint>
#include <string>

#include "Base/Bag.h"
#include "Base/LogWriter.h"

class CScannerSettings {
public:
    static constexpr const char* kSection = "FileSystemAgent";
    // Settings pushed from the management side; log lines still name kSection.
    static constexpr const char* kPushedSection = "~FileSystemAgent";

    static bool GetNumber(const char* key, std::uint32_t& value);
    static bool GetString(const char* key, std::string& value);
    static bool GetPushedInt(const char* key, int& value);
    static bool GetPushedNumber(const char* key, std::uint32_t& value);
    // Present and non-zero.
    static bool IsSet(const char* key);
    // Present and non-empty, first character upper-cased is `letter`.
    static bool StartsWith(const std::string& value, char upperLetter);

    // The integer under `key` whatever integer type it was written with; false when absent or
    // not an integer.
    static bool ReadInteger(const CBag& bag, const std::string& key, long long& value);
    static long long GetInteger(const CBag& bag, const std::string& key, long long fallback);

    // Writes one value; a bag write does not fail, but its result is not dropped silently.
    template <typename T>
    static void Put(CBag& bag, const std::string& key, const T& value)
    {
        CKxError result = bag.Write(key, value);
        if (result.IsError())
            FSLOG_ERROR("Failed to write [%s] to the configuration bag: %s", key.c_str(), result.AsString().c_str());
    }
};
