// The previous job's directory-change record, as the next scan loads, looks up, compares and
// carries it forward. The first input byte chooses:
//   bit 0 clear: the rest is the file as it lies on disk (header, trailer and index checks);
//   bit 0 set:   the rest is the record's text: a line ">folder" starts a chunk of that folder,
//                other lines are its entry lines; the target writes them with a valid index,
//                hashes and trailer, so that the entries and the records' fields get parsed;
//   bit 1:       records read with the scan's version 2 parser instead of the base one.
#include "CollectFile/DirChangeFileLayout.h"
#include "CollectFile/DirChangeItemBaseInfo.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"
#include "FuzzScratch.h"
#include "Scan/Dirchange/DirChangeItemParserV2.h"

#include <algorithm>

namespace {
namespace L = DirChangeFileLayout;

// Builds a closed file from ">folder" and entry lines; `paths` receives every folder and entry
// path named, for lookups.
std::string BuildFile(std::string_view text, std::vector<std::string>& paths)
{
    std::string chunks;
    std::vector<L::SChunkRef> refs;
    const std::uint64_t base = L::kHeader.size();
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line[0] == '>') {
            refs.push_back(L::SChunkRef{line.substr(1), base + chunks.size(), 0, 0, 0});  // a view of the input
            paths.emplace_back(refs.back().folder);
            continue;
        }
        if (refs.empty())
            refs.push_back(L::SChunkRef{"/", base + chunks.size(), 0, 0, 0});
        chunks.append(line);
        chunks.push_back('\n');
        refs.back().length += line.size() + 1;
        if (line.size() > 1)
            paths.push_back(std::string(refs.back().folder) + "/" + std::string(line.substr(1, line.find('|') - 1)));
    }
    for (L::SChunkRef& ref : refs)
        ref.hash = L::Hash64(std::string_view(chunks).substr(ref.offset - base, ref.length));
    std::stable_sort(refs.begin(), refs.end(), L::ChunkRefLess);

    std::string file(L::kHeader);
    file += chunks;
    std::string index;
    for (const L::SChunkRef& ref : refs)
        L::AppendIndexLine(ref, index);
    L::STrailer trailer{file.size(), index.size(), refs.size(), L::Hash64(index)};
    file += index;
    L::AppendTrailer(trailer, file);
    return file;
}

class CAnyCallback : public CPathCacheFlatFileIndexCompareCallback {
public:
    CKxError OnInIndex1(const std::string&, bool, const FVBasePtr&) override { return CKxError::Success(); }
    CKxError OnInIndex2(const std::string&, bool, const FVBasePtr&) override { return CKxError::Success(); }
    CKxError OnInBothIndexes(const std::string&, bool, const FVBasePtr&, const FVBasePtr&) override
    {
        return CKxError::Success();
    }
    CKxError OnInIndex1RecurseIntoDeletedFolder(const std::string&, const FVBasePtr&, bool& recurse) override
    {
        recurse = true;
        return CKxError::Success();
    }
};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string> paths{"/", ""};
    const std::string previous =
        FuzzScratch::WriteFile("DCTot.zvf", (data[0] & 1) != 0 ? BuildFile(rest, paths) : std::string(rest));
    CDirChangeItemBaseParserPtr parser = (data[0] & 2) != 0 ? std::make_shared<CDirChangeItemParserV2>()
                                                            : std::make_shared<CDirChangeItemBaseParser>();

    CPathCacheFlatFileIndex index;
    index.SetPreviousBackingFileParser(parser);
    if (index.SetCurrentBackingFile(FuzzScratch::Folder() + "/DCTmp.zvf", nullptr).IsError() ||
        index.SetPreviousBackingFile(previous, nullptr).IsError())
        return 0;
    FVBasePtr record;
    for (const std::string& path : paths) {
        (void)index.Lookup(path, IDirChange::eFolder, &record);
        (void)index.Lookup(path, IDirChange::eFile, &record);
    }
    // One folder seen again, one carried: the comparison then meets chunks on both sides.
    (void)index.AddItem(paths.back(), std::make_shared<CDirChangeItemBaseInfo>(), false);
    (void)index.CarryForward(paths[paths.size() / 2]);
    CAnyCallback callback;
    (void)index.Compare(callback);
    (void)index.Close();
    (void)CPathCacheFlatFileIndex::Compare(previous, previous, callback, 0, parser, parser);
    return 0;
}
