// floor_walker: the least work a scanner of a tree must do, to measure scanners against.
//
//   floor_walker [-t THREADS] [-o OUTPUT] [--statx] TREE
//
// It lists every folder with getdents64 on a directory descriptor, reads the status of every
// entry with fstatat(dirfd, name, AT_SYMLINK_NOFOLLOW) (or statx with --statx), and writes one
// line per item, "path/" for a folder and "path|size" for anything else, into OUTPUT (default
// /tmp/floor_walker.out) through a 1 MiB buffer per thread. THREADS workers (default 1) share
// one stack of folders still to list; a worker lists a folder whole, closes it and pushes its
// subfolders in one step, so open descriptors stay at one per worker and the stack grows with
// depth times fan-out, not with the tree. No allocation per item: paths are built in a
// per-thread buffer, and only folders still to list own a string. Symbolic links are not
// followed; mount points are crossed like any folder. Names are written as they are (no
// escaping).
//
// The last line printed is the result, fixed and machine-readable (see bench/README.md):
//
//   floor_walker tree=T threads=N items=I folders=F errors=E seconds=S items_per_sec=R peak_rss_kib=K output_bytes=B cpu_seconds=C
//
// Standalone on purpose: it links nothing of fsweep.
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr size_t kOutputBuffer = size_t{1} << 20;
constexpr size_t kDirentBuffer = 64 * 1024;

// Folders still to list, shared by the workers. A worker that finds it empty waits while any
// other worker is busy (that one may push more); when it is empty and nobody is busy, the walk
// is done.
class FolderStack {
public:
    explicit FolderStack(std::string root) { m_folders.push_back(std::move(root)); }

    bool Pop(std::string& folder)
    {
        std::unique_lock lock(m_lock);
        m_ready.wait(lock, [&] { return !m_folders.empty() || m_busy == 0; });
        if (m_folders.empty())
            return false;
        folder = std::move(m_folders.back());
        m_folders.pop_back();
        ++m_busy;
        return true;
    }

    // Hands over the subfolders of the folder just listed and marks the worker idle.
    void Done(std::vector<std::string>& subfolders)
    {
        std::lock_guard lock(m_lock);
        for (std::string& folder : subfolders)
            m_folders.push_back(std::move(folder));
        subfolders.clear();
        --m_busy;
        m_ready.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::vector<std::string> m_folders;
    int m_busy = 0;
};

struct Totals {
    std::atomic<std::uint64_t> items{0};
    std::atomic<std::uint64_t> folders{0};
    std::atomic<std::uint64_t> errors{0};
    std::atomic<std::uint64_t> outputBytes{0};
    std::atomic<bool> writeFailed{false};
};

class Worker {
public:
    Worker(FolderStack& stack, Totals& totals, int outFd, bool useStatx)
        : m_stack(stack), m_totals(totals), m_outFd(outFd), m_useStatx(useStatx)
    {
        m_out = static_cast<char*>(std::malloc(kOutputBuffer));
        m_dirents = static_cast<char*>(std::malloc(kDirentBuffer));
        m_path.reserve(4096);
    }
    ~Worker()
    {
        std::free(m_out);
        std::free(m_dirents);
    }

    void Run()
    {
        std::string folder;
        while (m_stack.Pop(folder)) {
            ListFolder(folder);
            m_stack.Done(m_subfolders);
        }
        Flush();
        m_totals.items += m_items;
        m_totals.folders += m_folders;
        m_totals.errors += m_errors;
    }

    // The root is an item too.
    void ReportRoot(const std::string& root)
    {
        AppendLine(root.data(), root.size(), "/\n", 2);
        ++m_items;
        ++m_folders;
    }

private:
    // Appends one whole line given in pieces. The buffer is flushed only between lines, so
    // that the O_APPEND writes of several workers never split a line.
    void AppendLine(const char* path, size_t pathSize, const char* suffix, size_t suffixSize)
    {
        if (m_used + pathSize + suffixSize > kOutputBuffer) {
            Flush();
            if (pathSize + suffixSize > kOutputBuffer) {
                std::string line(path, pathSize);
                line.append(suffix, suffixSize);
                WriteAll(line.data(), line.size());
                return;
            }
        }
        std::memcpy(m_out + m_used, path, pathSize);
        std::memcpy(m_out + m_used + pathSize, suffix, suffixSize);
        m_used += pathSize + suffixSize;
    }

    void WriteAll(const char* data, size_t size)
    {
        m_totals.outputBytes += size;
        while (size > 0) {
            ssize_t n = ::write(m_outFd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_totals.writeFailed = true;
                return;
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

    void Flush()
    {
        WriteAll(m_out, m_used);
        m_used = 0;
    }

    bool Stat(int dirfd, const char* name, bool& isFolder, std::uint64_t& size)
    {
        if (m_useStatx) {
            struct statx stx;
            if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT,
                        STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_INO, &stx) != 0)
                return false;
            isFolder = S_ISDIR(stx.stx_mode);
            size = stx.stx_size;
            return true;
        }
        struct stat st;
        if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        isFolder = S_ISDIR(st.st_mode);
        size = static_cast<std::uint64_t>(st.st_size);
        return true;
    }

    void ListFolder(const std::string& folder)
    {
        int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dirfd < 0) {
            ++m_errors;
            return;
        }
        m_path.assign(folder);
        if (m_path.back() != '/')
            m_path.push_back('/');
        const size_t base = m_path.size();
        while (true) {
            long n = ::syscall(SYS_getdents64, dirfd, m_dirents, kDirentBuffer);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                ++m_errors;
                break;
            }
            if (n == 0)
                break;
            for (long offset = 0; offset < n;) {
                auto* entry = reinterpret_cast<LinuxDirent64*>(m_dirents + offset);
                offset += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                bool isFolder = false;
                std::uint64_t size = 0;
                if (!Stat(dirfd, name, isFolder, size)) {
                    ++m_errors;  // vanished or unreadable: counted, not listed
                    continue;
                }
                m_path.resize(base);
                m_path.append(name);
                if (isFolder) {
                    AppendLine(m_path.data(), m_path.size(), "/\n", 2);
                    ++m_folders;
                    m_subfolders.push_back(m_path);
                } else {
                    char suffix[24];
                    suffix[0] = '|';
                    char* end = std::to_chars(suffix + 1, suffix + sizeof suffix - 1, size).ptr;
                    *end++ = '\n';
                    AppendLine(m_path.data(), m_path.size(), suffix, static_cast<size_t>(end - suffix));
                }
                ++m_items;
            }
        }
        ::close(dirfd);
    }

    FolderStack& m_stack;
    Totals& m_totals;
    int m_outFd;
    bool m_useStatx;
    char* m_out = nullptr;
    size_t m_used = 0;
    char* m_dirents = nullptr;
    std::string m_path;
    std::vector<std::string> m_subfolders;
    std::uint64_t m_items = 0, m_folders = 0, m_errors = 0;
};

void Usage()
{
    std::fprintf(stderr, "usage: floor_walker [-t THREADS] [-o OUTPUT] [--statx] TREE\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    int threads = 1;
    std::string output = "/tmp/floor_walker.out";
    std::string tree;
    bool useStatx = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "-t" || arg == "--threads") && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else if ((arg == "-o" || arg == "--output") && i + 1 < argc)
            output = argv[++i];
        else if (arg == "--statx")
            useStatx = true;
        else if (!arg.empty() && arg[0] != '-' && tree.empty())
            tree = arg;
        else
            Usage();
    }
    if (tree.empty() || threads < 1)
        Usage();
    while (tree.size() > 1 && tree.back() == '/')
        tree.pop_back();

    const int outFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (outFd < 0) {
        std::fprintf(stderr, "floor_walker: cannot open %s: %s\n", output.c_str(), std::strerror(errno));
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    FolderStack stack(tree);
    Totals totals;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < threads; ++t)
        workers.push_back(std::make_unique<Worker>(stack, totals, outFd, useStatx));
    workers.front()->ReportRoot(tree);
    std::vector<std::thread> running;
    for (auto& worker : workers)
        running.emplace_back([&worker] { worker->Run(); });
    for (auto& thread : running)
        thread.join();
    const bool closeFailed = ::close(outFd) != 0;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    if (totals.writeFailed || closeFailed) {
        std::fprintf(stderr, "floor_walker: writing %s failed\n", output.c_str());
        return 1;
    }
    const std::uint64_t items = totals.items;
    std::printf("floor_walker tree=%s threads=%d items=%llu folders=%llu errors=%llu seconds=%.6f items_per_sec=%.0f "
                "peak_rss_kib=%ld output_bytes=%llu cpu_seconds=%.6f\n",
                tree.c_str(), threads, static_cast<unsigned long long>(items),
                static_cast<unsigned long long>(totals.folders.load()), static_cast<unsigned long long>(totals.errors.load()),
                seconds, seconds > 0 ? static_cast<double>(items) / seconds : 0.0, usage.ru_maxrss,
                static_cast<unsigned long long>(totals.outputBytes.load()),
                usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    return 0;
}
