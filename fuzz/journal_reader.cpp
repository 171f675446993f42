// The change journal as a scan reads it: the input is the journal file. A read of the whole file
// that succeeds must give canonical paths, unique and in path order; writing them again gives a
// journal that reads back the same; a read from the header's end to each line end succeeds too.
#include "Base/DirChangePathOrder.h"
#include "FuzzScratch.h"
#include "Journal/JournalFormat.h"
#include "Journal/JournalReader.h"

#include <algorithm>
#include <cstdlib>

namespace {

void CheckPaths(const std::vector<std::string>& paths)
{
    for (size_t i = 0; i < paths.size(); ++i)
        if (!JournalFormat::IsCanonicalPath(paths[i]) || (i > 0 && !DirChangePathOrder::Less(paths[i - 1], paths[i])))
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string path = FuzzScratch::WriteFile("ChangeJournal.jnl", std::string_view(reinterpret_cast<const char*>(data), size));
    SJournalSpan span;
    if (CJournalReader::Read(path, 0, CJournalReader::kToEnd, span).IsError())
        return 0;
    CheckPaths(span.folders);
    CheckPaths(span.links);
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t end = text.find('\n', span.headerEnd); end != std::string::npos; end = text.find('\n', end + 1)) {
        SJournalSpan part;
        if (CJournalReader::Read(path, 0, end + 1, part).IsError() || part.folders.size() > span.folders.size())
            std::abort();
    }

    std::string again;
    JournalFormat::AppendHeader(span.runId, span.sequence, span.completeSince, again);
    for (const std::string& folder : span.folders)
        JournalFormat::AppendFolder(folder, again);
    for (const std::string& link : span.links)
        JournalFormat::AppendLink(link, again);
    if (span.broken)
        JournalFormat::AppendBroken(span.brokenCause, again);
    if (span.ended)
        JournalFormat::AppendEnd(again);
    SJournalSpan reread;
    if (CJournalReader::Read(FuzzScratch::WriteFile("ChangeJournal.jnl", again), 0, CJournalReader::kToEnd, reread).IsError() ||
        reread.folders != span.folders || reread.links != span.links || reread.broken != span.broken ||
        reread.brokenCause != span.brokenCause || reread.ended != span.ended || reread.runId != span.runId ||
        reread.sequence != span.sequence || reread.completeSince != span.completeSince)
        std::abort();
    return 0;
}
