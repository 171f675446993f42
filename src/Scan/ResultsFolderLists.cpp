#include "Scan/ResultsFolderLists.h"

#include "Base/DecimalText.h"
#include "Base/FXPath.h"
#include "Base/FileNameEscaping.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <tuple>
#include <utility>
#include <vector>

void CResultsFolderLists::ReadScanFailures(const std::string& folder,
                                           const std::function<void(std::string, int)>& sink)
{
    // "<kind> <escaped path>:<code>"
    std::ifstream in(FXPath::Append(folder, "scan_Failures.zvf"));
    for (std::string line; std::getline(in, line);) {
        const size_t blank = line.find(' ');
        const size_t last = line.rfind(':');
        std::string path;
        long long code = 0;
        if (blank != std::string::npos && last != std::string::npos && last > blank &&
            DecimalText::ParseSigned(line.substr(last + 1), code) &&
            unescapeFileName(std::string_view(line).substr(blank + 1, last - blank - 1), path).IsSuccess())
            sink(std::move(path), static_cast<int>(code));
    }
}

void CResultsFolderLists::ReadCollectFiles(const std::string& folder,
                                           const std::function<void(int, std::string)>& sink)
{
    static const std::regex kCollect(R"(Collect(Tot|Inc)([0-9]+)\.zvf)");
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::pair<std::string, int>> files[2];  // Tot, Inc
    struct timespec newest {};
    int newestKind = 0;
    while (const dirent* entry = ::readdir(dir)) {
        std::cmatch match;
        struct stat status {};
        unsigned long long number = 0;
        if (!std::regex_match(entry->d_name, match, kCollect) || !DecimalText::ParseUnsigned(match[2].str(), number) ||
            ::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const int kind = match[1].str() == "Tot" ? 0 : 1;
        files[kind].emplace_back(entry->d_name, static_cast<int>(number));
        if (std::tie(status.st_mtim.tv_sec, status.st_mtim.tv_nsec) > std::tie(newest.tv_sec, newest.tv_nsec)) {
            newest = status.st_mtim;
            newestKind = kind;
        }
    }
    ::closedir(dir);
    for (const auto& [name, number] : files[newestKind]) {
        std::ifstream in(FXPath::Append(folder, name));
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '?' || line[0] == '%' || line[0] == '#')
                continue;
            std::string_view text(line);
            if (const size_t bar = text.rfind('|'); bar != std::string_view::npos)
                text = text.substr(0, bar);
            if (text.size() > 1 && text.back() == '/')
                text.remove_suffix(1);
            std::string path;
            if (unescapeFileName(text, path).IsSuccess())
                sink(number, std::move(path));
        }
    }
}
