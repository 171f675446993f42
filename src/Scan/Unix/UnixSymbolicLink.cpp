#include "Scan/Unix/UnixSymbolicLink.h"

#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Scan/Unix/isDuplicate.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct SDirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool Resolve(const std::string& path, std::string& resolved)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return false;
    resolved = real.get();
    return true;
}

}  // namespace

bool UnixSymbolicLink::getPhysicalPath(const std::string& path, std::vector<std::string>& physicalPaths,
                                       std::string& physicalRoot)
{
    physicalPaths.clear();
    physicalRoot.clear();
    if (!Resolve(path, physicalRoot)) {
        FSLOG(3, "Cannot resolve [%s]: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    auto addOnce = [&physicalPaths](const std::string& target) {
        for (const std::string& known : physicalPaths)
            if (known == target)
                return;
        physicalPaths.push_back(target);
    };
    if (physicalRoot != isDuplicate::Normalize(path))
        addOnce(physicalRoot);

    struct stat rootStatus {};
    if (::stat(physicalRoot.c_str(), &rootStatus) != 0 || !S_ISDIR(rootStatus.st_mode))
        return true;

    // Depth first over folders; links are never followed, so the walk ends on any tree.
    std::vector<std::string> folders{physicalRoot};
    while (!folders.empty()) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        std::unique_ptr<DIR, SDirCloser> dir(::opendir(folder.c_str()));
        if (!dir) {
            FSLOG(3, "Cannot open [%s] to look for symbolic links: %s", folder.c_str(), std::strerror(errno));
            continue;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            const std::string child = FXPath::Append(folder, entry->d_name);
            struct stat status {};
            if (::lstat(child.c_str(), &status) != 0)
                continue;
            if (S_ISDIR(status.st_mode)) {
                if (status.st_dev == rootStatus.st_dev)
                    folders.push_back(child);
            } else if (S_ISLNK(status.st_mode)) {
                std::string target;
                if (!Resolve(child, target)) {
                    FSLOG(4, "Dangling symbolic link [%s]", child.c_str());
                    continue;
                }
                if (!FXPath::IsUnder(target, physicalRoot))
                    addOnce(target);
            }
        }
    }
    return true;
}
