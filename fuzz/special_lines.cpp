// The special collect lines the backup phase and the next scan read back: hard-link lines and
// extent lines. Any bytes parse without a crash; what parses names an absolute path (hard links)
// and formats back to a line that parses to the same values.
#include "CollectFile/ExtentLine.h"
#include "CollectFile/HCollectFile.h"
#include "FuzzScratch.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    for (const std::string& line : FuzzScratch::Split(data, size, '\n')) {
        HLinkGroupElement element;
        if (HCollectFile::ParseLine(line, element).IsSuccess()) {
            if (element.path.empty() || element.path.front() != '/')
                std::abort();
            std::string again;
            HCollectFile::FormatLine(element, again);
            again.pop_back();
            HLinkGroupElement back;
            if (HCollectFile::ParseLine(again, back).IsError() || !(back == element))
                std::abort();
        }
        CExtentLine extent;
        if (CExtentLine::Parse(line, extent).IsSuccess()) {
            CExtentLine back;
            if (CExtentLine::Parse(extent.Format(), back).IsError() || !(back == extent))
                std::abort();
            (void)extent.ExtentCount();
        }
    }
    return 0;
}
