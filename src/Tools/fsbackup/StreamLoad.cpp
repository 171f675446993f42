#include "Tools/fsbackup/StreamLoad.h"

#include <algorithm>

std::vector<CStreamLoad::SStream> CStreamLoad::Deal(std::vector<SFile> files, int streams)
{
    const size_t count = streams < 1 ? std::max<size_t>(files.size(), 1) : static_cast<size_t>(streams);
    std::vector<SStream> dealt(count);
    std::stable_sort(files.begin(), files.end(), [](const SFile& a, const SFile& b) { return a.bytes > b.bytes; });
    for (SFile& file : files) {
        SStream& least = *std::min_element(dealt.begin(), dealt.end(), [](const SStream& a, const SStream& b) {
            return a.bytes < b.bytes || (a.bytes == b.bytes && a.files.size() < b.files.size());
        });
        least.items += file.items;
        least.bytes += file.bytes;
        least.files.push_back(std::move(file.name));
    }
    return dealt;
}
