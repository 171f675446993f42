// The list of items a scan could not take ("scan_Failures.zvf"): every line read back, and every
// line that reads back written again to the same bytes.
#include "FuzzScratch.h"
#include "Scan/FileSystemScanFailureConsumer.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    for (const std::string& line : FuzzScratch::Split(data, size, '\n')) {
        SFailedItem item;
        if (CFileSystemScanFailureConsumer::ParseLine(line, item).IsError())
            continue;
        if (CFileSystemScanFailureConsumer::FormatLine(item.isFolder, item.path, item.code) != line + "\n")
            std::abort();
    }
    return 0;
}
