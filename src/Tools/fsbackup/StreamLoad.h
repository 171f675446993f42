#pragma once
// CStreamLoad: how the collect files of a backup share its data streams. Each collect file is
// read whole by one stream; the files are dealt largest first, each to the stream with the least
// data so far (ties: the lowest stream number), which keeps streams within one file's data of
// each other whatever the order of the files.
//
// Thread: one object, one thread.
#include <cstdint>
#include <string>
#include <vector>

class CStreamLoad {
public:
    struct SFile {
        std::string name;
        std::uint64_t items = 0;
        std::uint64_t bytes = 0;
    };
    struct SStream {
        std::vector<std::string> files;
        std::uint64_t items = 0;
        std::uint64_t bytes = 0;
    };

    // `streams` below 1 counts as one stream per collect file.
    static std::vector<SStream> Deal(std::vector<SFile> files, int streams);
};
