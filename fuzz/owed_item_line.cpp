// The lines that carry owed items into a scan (the failed-file list and the commit file): any
// bytes parse without a crash, what parses names an absolute path, and a failed line written
// from a parsed one reads back to the same path and error.
#include "CollectFile/OwedItemLine.h"
#include "FuzzScratch.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    for (const std::string& line : FuzzScratch::Split(data, size, '\n')) {
        COwedItemLine commit;
        if (COwedItemLine::ParseCommitLine(line, commit).IsSuccess() && commit.kind != COwedItemLine::EKind::Skip &&
            (commit.path.empty() || commit.path.front() != '/'))
            std::abort();
        COwedItemLine failed;
        if (COwedItemLine::ParseFailedLine(line, failed).IsError() || failed.kind == COwedItemLine::EKind::Skip)
            continue;
        COwedItemLine again;
        if (COwedItemLine::ParseFailedLine(COwedItemLine::FormatFailedLine(failed.path, failed.error), again).IsError() ||
            again.path != failed.path || again.error != failed.error)
            std::abort();
    }
    return 0;
}
