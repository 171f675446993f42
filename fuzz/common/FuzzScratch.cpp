#include "FuzzScratch.h"

#include "Base/LogWriter.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace FuzzScratch {
namespace {
std::string& FolderStorage()
{
    static std::string folder;
    return folder;
}

void RemoveFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(FolderStorage(), ignored);
}
}  // namespace

void Initialize()
{
    // Below the errors' level: nothing reaches standard error.
    CLogWriter::Instance().SetLevel(-2);
    if (!FolderStorage().empty())
        return;
    std::string pattern = (std::filesystem::temp_directory_path() / "fsweep-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("fuzz: mkdtemp");
        std::abort();
    }
    FolderStorage() = pattern;
    std::atexit(RemoveFolder);
}

const std::string& Folder() { return FolderStorage(); }

std::string WriteFile(const std::string& name, std::string_view bytes)
{
    std::string path = Folder() + "/" + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool written = fd >= 0;
    while (written && !bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        written = n > 0;
        if (written)
            bytes.remove_prefix(static_cast<size_t>(n));
    }
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        std::perror(("fuzz: write " + path).c_str());
        std::abort();
    }
    return path;
}

std::vector<std::string> Split(const std::uint8_t* data, size_t size, char separator)
{
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(data[i]);
    }
    return pieces;
}

}  // namespace FuzzScratch
