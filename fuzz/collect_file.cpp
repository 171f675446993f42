// Collect files as the backup phase reads them: the input (after one byte that says whether the
// lines carry start characters) is the file; every line is taken apart and its path decoded.
#include "CollectFile/CollectFileReader.h"
#include "Base/FileNameEscaping.h"
#include "FuzzScratch.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string path =
        FuzzScratch::WriteFile("CollectTot1.zvf", std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    CCollectFileReader reader;
    reader.SetHasStartCharacters((data[0] & 1) != 0);
    if (reader.OpenCollectFile(path).IsError())
        std::abort();
    std::string line, decoded;
    for (;;) {
        if (reader.GetNextLine(line).IsError() || reader.IsEndOfFile())
            break;
        (void)reader.IsDirectory();
        (void)reader.GetCurrentItemFileSize();
        if (reader.IsSpecialLine())
            continue;
        if (reader.GetCurrentPath(decoded).IsError())
            continue;
        // Decoding is the exact inverse of escaping: whatever decodes, escapes back to itself.
        if (unescapeFileName(line, decoded).IsSuccess() && escapeFileName(decoded) != line)
            std::abort();
    }
    return 0;
}
