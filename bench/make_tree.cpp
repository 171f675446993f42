// make_tree: builds a reproducible test tree for the walk benchmarks.
//
//   make_tree [--files N] [--seed S] DIR
//
// DIR must not exist yet. The same seed and file count always give the same folders, names and
// file sizes: N files (default 200,000) in nested folders of 10 to 30 entries each, file sizes
// 0 to 4096 bytes, about one subfolder in fifty left empty. Folders are filled breadth first,
// each spawning 1 to 4 subfolders until there are about N/17 of them, so the tree is some ten
// levels deep. The last line printed is machine-readable:
//
//   make_tree root=DIR seed=S files=N folders=F empty_folders=E bytes=B max_depth=D seconds=T
//
// Standalone on purpose: it links nothing of fsweep.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// splitmix64: a fixed generator, so that a seed means the same tree on every platform and
// library (std::uniform_int_distribution is not specified bit for bit).
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [low, high].
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) { return low + Next() % (high - low + 1); }

private:
    std::uint64_t m_state;
};

const char* const kSyllables[] = {"ka", "lo", "mer", "dun", "si", "tra", "vo", "qua", "zen", "pil",
                                  "rho", "gam", "ex", "ul", "bri", "sto", "nav", "ik", "wen", "da"};
const char* const kExtensions[] = {".txt", ".log", ".dat", ".c", ".h", ".json", ".png", ".conf", "", ".tar"};

std::string Word(Random& random)
{
    std::string word;
    const std::uint64_t syllables = random.Between(1, 4);
    for (std::uint64_t i = 0; i < syllables; ++i)
        word += kSyllables[random.Next() % (sizeof kSyllables / sizeof *kSyllables)];
    return word;
}

struct PendingFolder {
    std::string path;
    unsigned depth;
};

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "make_tree: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void Usage()
{
    std::fprintf(stderr, "usage: make_tree [--files N] [--seed S] DIR\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint64_t files = 200000;
    std::uint64_t seed = 1;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--files" || arg == "-n") && i + 1 < argc)
            files = std::strtoull(argv[++i], nullptr, 10);
        else if ((arg == "--seed" || arg == "-s") && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!arg.empty() && arg[0] != '-' && root.empty())
            root = arg;
        else
            Usage();
    }
    if (root.empty() || files == 0)
        Usage();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();

    const auto start = std::chrono::steady_clock::now();
    if (::mkdir(root.c_str(), 0755) != 0)
        Die("cannot create " + root + " (it must not exist)");

    Random random(seed);
    static char content[4096];
    for (char& c : content)
        c = static_cast<char>('a' + random.Next() % 26);

    const std::uint64_t targetFolders = files / 17 + 1;
    std::deque<PendingFolder> pending{{root, 0}};
    std::uint64_t filesLeft = files, folders = 1, emptyFolders = 0, bytes = 0;
    unsigned maxDepth = 0;
    std::string lastFolder = root;
    while (filesLeft > 0) {
        if (pending.empty()) {
            // Every folder so far was filled: open one more below the last.
            std::string path = lastFolder + "/more";
            if (::mkdir(path.c_str(), 0755) != 0)
                Die("mkdir " + path);
            ++folders;
            pending.push_back({path, 0});
        }
        PendingFolder folder = std::move(pending.front());
        pending.pop_front();
        lastFolder = folder.path;
        maxDepth = std::max(maxDepth, folder.depth);
        int dirfd = ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirfd < 0)
            Die("open " + folder.path);

        const std::uint64_t entries = random.Between(10, 30);
        std::uint64_t subfolders = folders < targetFolders ? random.Between(1, 4) : 0;
        const std::uint64_t fileCount = std::min(entries - subfolders, filesLeft);
        for (std::uint64_t i = 0; i < fileCount; ++i) {
            char name[256];
            std::snprintf(name, sizeof name, "f%02llu_%s%s", static_cast<unsigned long long>(i), Word(random).c_str(),
                          kExtensions[random.Next() % (sizeof kExtensions / sizeof *kExtensions)]);
            const std::uint64_t size = random.Between(0, sizeof content);
            int fd = ::openat(dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                Die("create " + folder.path + "/" + name);
            if (size > 0 && ::write(fd, content, size) != static_cast<ssize_t>(size))
                Die("write " + folder.path + "/" + name);
            ::close(fd);
            bytes += size;
        }
        filesLeft -= fileCount;
        for (std::uint64_t i = 0; i < subfolders; ++i) {
            char name[256];
            std::snprintf(name, sizeof name, "d%02llu_%s", static_cast<unsigned long long>(i), Word(random).c_str());
            if (::mkdirat(dirfd, name, 0755) != 0)
                Die("mkdir " + folder.path + "/" + name);
            ++folders;
            if (random.Next() % 50 == 0)
                ++emptyFolders;  // stays empty
            else
                pending.push_back({folder.path + "/" + name, folder.depth + 1});
        }
        ::close(dirfd);
    }
    emptyFolders += pending.size();  // spawned but never needed
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("make_tree root=%s seed=%llu files=%llu folders=%llu empty_folders=%llu bytes=%llu max_depth=%u seconds=%.3f\n",
                root.c_str(), static_cast<unsigned long long>(seed), static_cast<unsigned long long>(files),
                static_cast<unsigned long long>(folders), static_cast<unsigned long long>(emptyFolders),
                static_cast<unsigned long long>(bytes), maxDepth, seconds);
    return 0;
}
