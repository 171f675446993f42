// Agent settings: a section file of the registry folder, read line by line, looked up by the
// names it holds, and every value read as the numbers the agent asks for.
#include "Agent/FileSettingsStore.h"
#include "Agent/ZVPlatformInfo.h"
#include "FuzzScratch.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FuzzScratch::WriteFile("FileSystemAgent", bytes);
    CFileSettingsStore store(FuzzScratch::Folder());

    std::string value, where;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string line(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        std::string name, lineValue;
        if (!CFileSettingsStore::ParseLine(line, name, lineValue))
            continue;
        // A name the parser found is never empty and holds no blank, nor does the value end in one.
        if (name.empty() || name.find_first_of(" \t") != std::string::npos ||
            (!lineValue.empty() && (lineValue.back() == ' ' || lineValue.back() == '\t' || lineValue.back() == '\r')))
            std::abort();
        if (!store.Get("FileSystemAgent", name, value, where))
            std::abort();
        std::uint32_t number = 0;
        int signedNumber = 0;
        (void)ZVPlatformInfo::ParseUnsigned32(value, number);
        (void)ZVPlatformInfo::ParseSigned32(value, signedNumber);
    }
    (void)store.Get("FileSystemAgent", "nLogLevel", value, where);
    (void)store.Get("Missing", "nLogLevel", value, where);
    return 0;
}
