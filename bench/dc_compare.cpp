// dc_compare: the directory-change index at scale. Writes two directory-change files through
// the public API (the previous and the current job's), then measures, each in a fresh process
// so that its peak memory is its own: loading the previous file and looking every item up,
// and comparing the two files.
//
//   dc_compare [--items N] [--per-folder K] [--threads T] [--dir DIR] [--baseline | --write-only]
//
// N items (default 1,000,000) in folders of K files (default 50) below 100 top folders,
// written by T threads (default 4) through one buffer, like the walkers of one output stage.
// The current file differs from the previous one by 1% changed records, 0.1% new files and
// 0.1% deleted files. Prints one line per phase with its figures; asserts nothing.
// --baseline runs the writing threads' own work (paths, record texts) without adding anything:
// what the write figures owe to the benchmark rather than to the index. --write-only writes the
// previous file and stops: under time(1), the CPU time of writing against the baseline's.
//
// The compare phase runs twice: as the scan compares (no call for items in both files) and with
// a record handed over for every item in both.
//
// Internal modes, run by the above: --phase lookup PREV, --phase compare PREV CUR.
#include "CollectFile/DirChangeItemBaseFormatter.h"
#include "CollectFile/DirChangeItemBaseInfo.h"
#include "CollectFile/DirChangeItemBaseParser.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "CollectFile/PathCacheFlatFileIndexBuffer.h"
#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A record shaped like the scan's: selected flag and collect-file number as tagged fields.
struct SBenchRecord : CDirChangeItemBaseInfo {
    int selected = 0;
    int collectId = 0;
    CKxError ParseFields(const std::vector<std::string>& fields) override
    {
        for (const std::string& field : fields) {
            if (strncasecmp(field.c_str(), "<IS>", 4) == 0)
                selected = field.size() > 4 && field[4] == '1';
            else if (strncasecmp(field.c_str(), "<CI>", 4) == 0)
                collectId = std::atoi(field.c_str() + 4);
        }
        return CKxError::Success();
    }
};

class CBenchFormatter : public CDirChangeItemBaseFormatter {
public:
    std::string GetFormattedData(const FVBasePtr& record) const override
    {
        auto info = static_cast<const SBenchRecord*>(record.get());
        char text[48];
        const int length = std::snprintf(text, sizeof text, "|<IS>%d|<CI>%d", info->selected, info->collectId);
        return std::string(text, static_cast<size_t>(length));
    }
};

class CBenchParser : public CDirChangeItemBaseParser {
public:
    CKxError GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const override
    {
        auto info = std::make_shared<SBenchRecord>();
        KX_RETURN_IF_ERROR(info->ParseFields(fields));
        record = std::move(info);
        return CKxError::Success();
    }
};

class CCountingCallback : public CPathCacheFlatFileIndexCompareCallback {
public:
    CKxError OnInIndex1(const std::string&, bool, const FVBasePtr&) override
    {
        ++deleted;
        return CKxError::Success();
    }
    CKxError OnInIndex2(const std::string&, bool, const FVBasePtr&) override
    {
        ++added;
        return CKxError::Success();
    }
    CKxError OnInBothIndexes(const std::string&, bool, const FVBasePtr& first, const FVBasePtr& second) override
    {
        ++both;
        auto a = static_cast<const SBenchRecord*>(first.get());
        auto b = static_cast<const SBenchRecord*>(second.get());
        changed += (a->collectId != b->collectId || a->selected != b->selected) ? 1 : 0;
        return CKxError::Success();
    }
    unsigned long long deleted = 0, added = 0, both = 0, changed = 0;
};

// The scan's usual comparison: deletions and new items only, nothing to do for items in both.
class CDeletionsCallback : public CCountingCallback {
public:
    bool WantsInBothIndexes() const override { return false; }
};

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The peak resident size of this process image (VmHWM: unlike the resource usage's maximum,
// it starts afresh at exec, so each phase process reports its own).
long PeakRssKib()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return kib;
}

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

[[noreturn]] void Fail(const char* what, const CKxError& error)
{
    std::fprintf(stderr, "dc_compare: %s: %s\n", what, error.AsString().c_str());
    std::exit(1);
}

struct SOptions {
    unsigned long long items = 1000000;
    unsigned perFolder = 50;
    unsigned threads = 4;
    std::string dir = "/tmp/dc_compare";
    bool baseline = false;  // generate and format only, add nothing: the benchmark's own share
    bool writeOnly = false;  // write the previous file only (CPU time of writing, with time(1))
};

std::string FolderPath(unsigned long long folder)
{
    char path[64];
    std::snprintf(path, sizeof path, "/data/top%02llu/folder%06llu", folder % 100, folder);
    return path;
}

// Writes one job's file; `current` applies the changes. Returns the items written.
unsigned long long WriteFile(const SOptions& options, const std::string& path, bool current)
{
    auto index = std::make_shared<CPathCacheFlatFileIndex>();
    index->SetItemInfoFormatter(std::make_shared<CBenchFormatter>());
    if (CKxError e = index->SetCurrentBackingFile(path, nullptr); e.IsError())
        Fail("open", e);
    auto buffer = std::make_shared<CPathCacheFlatFileIndexBuffer>(index);
    const unsigned long long folders = (options.items + options.perFolder - 1) / options.perFolder;
    std::vector<unsigned long long> written(options.threads, 0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < options.threads; ++t)
        workers.emplace_back([&, t] {
            const FXCodeLocation here = FXCodeLocation::Here();
            std::string name;
            unsigned long long count = t == 0 ? 1 : 0;
            auto record = std::make_shared<SBenchRecord>();
            size_t formatted = 0;
            auto add = [&](bool isFile, const std::string& path, const FVBasePtr& rec) -> CKxError {
                if (options.baseline) {
                    formatted += index->GetItemInfoFormatter()->GetFormattedData(rec).size() + path.size();
                    return CKxError::Success();
                }
                return isFile ? buffer->AddFile(path, here, "bench", rec) : buffer->AddFolder(path, here, "bench", rec);
            };
            if (t == 0)
                (void)add(false, "/data", record);
            // Like walkers: each thread lists whole top folders, a folder's entries one after
            // the other.
            for (unsigned long long top = t; top < 100; top += options.threads) {
                char topPath[32];
                std::snprintf(topPath, sizeof topPath, "/data/top%02llu", top);
                (void)add(false, topPath, record);
                ++count;
            for (unsigned long long folder = top; folder < folders; folder += 100) {
                const std::string folderPath = FolderPath(folder);
                record->selected = 0;
                record->collectId = 1;
                if (CKxError e = add(false, folderPath, record); e.IsError())
                    Fail("add folder", e);
                ++count;
                for (unsigned file = 0; file < options.perFolder; ++file) {
                    const std::uint64_t dice = Mix(folder * 1000003ull + file) % 10000;
                    if (current && dice < 10)
                        continue;  // 0.1% deleted
                    name = folderPath;
                    char leaf[32];
                    std::snprintf(leaf, sizeof leaf, "/file-%05u.dat", file);
                    name += leaf;
                    record->selected = current && dice < 110 ? 1 : 0;  // 1% changed
                    record->collectId = 1;
                    if (CKxError e = add(true, name, record); e.IsError())
                        Fail("add file", e);
                    ++count;
                    if (current && dice >= 110 && dice < 120) {  // 0.1% new
                        name += ".new";
                        if (CKxError e = add(true, name, record); e.IsError())
                            Fail("add file", e);
                        ++count;
                    }
                }
            }
            }
            written[t] = count + (formatted == 1 ? 1 : 0);  // keeps the baseline's work observable
        });
    for (auto& worker : workers)
        worker.join();
    if (CKxError e = buffer->CloseFile(); e.IsError())
        Fail("flush", e);
    const double addSeconds = Seconds(start);
    const auto closeStart = std::chrono::steady_clock::now();
    if (CKxError e = index->Close(); e.IsError())
        Fail("close", e);
    const double closeSeconds = Seconds(closeStart);
    unsigned long long total = 0;
    for (auto n : written)
        total += n;
    struct stat st {};
    ::stat(path.c_str(), &st);
    std::printf("dc_compare phase=%s file=%s items=%llu folders=%llu threads=%u add_seconds=%.3f "
                "close_seconds=%.3f items_per_sec=%.0f chunks=%llu file_bytes=%lld\n",
                options.baseline ? "baseline" : "write", current ? "current" : "previous", total, folders,
                options.threads, addSeconds, closeSeconds,
                static_cast<double>(total) / (addSeconds + closeSeconds),
                static_cast<unsigned long long>(index->GetCurrentChunkCount()), static_cast<long long>(st.st_size));
    return total;
}

int PhaseLookup(const SOptions& options, const std::string& previous)
{
    const auto start = std::chrono::steady_clock::now();
    CPathCacheFlatFileIndex index;
    index.SetPreviousBackingFileParser(std::make_shared<CBenchParser>());
    if (CKxError e = index.SetPreviousBackingFile(previous, nullptr); e.IsError())
        Fail("load", e);
    const double loadSeconds = Seconds(start);
    const unsigned long long folders = (options.items + options.perFolder - 1) / options.perFolder;
    const auto lookupStart = std::chrono::steady_clock::now();
    std::vector<unsigned long long> found(options.threads, 0);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < options.threads; ++t)
        workers.emplace_back([&, t] {
            std::string name;
            FVBasePtr record;
            for (unsigned long long top = t; top < 100; top += options.threads)
            for (unsigned long long folder = top; folder < folders; folder += 100) {
                const std::string folderPath = FolderPath(folder);
                found[t] += index.Lookup(folderPath, IDirChange::eFolder) ? 1 : 0;
                for (unsigned file = 0; file < options.perFolder; ++file) {
                    name = folderPath;
                    char leaf[32];
                    std::snprintf(leaf, sizeof leaf, "/file-%05u.dat", file);
                    name += leaf;
                    found[t] += index.Lookup(name, IDirChange::eFile, &record) ? 1 : 0;
                }
            }
        });
    for (auto& worker : workers)
        worker.join();
    const double lookupSeconds = Seconds(lookupStart);
    unsigned long long total = 0;
    for (auto n : found)
        total += n;
    std::printf("dc_compare phase=lookup load_seconds=%.3f lookups_found=%llu threads=%u lookup_seconds=%.3f "
                "lookups_per_sec=%.0f peak_rss_kib=%ld\n",
                loadSeconds, total, options.threads, lookupSeconds, static_cast<double>(total) / lookupSeconds,
                PeakRssKib());
    return 0;
}

int PhaseCompare(const std::string& previous, const std::string& current)
{
    const auto startDeletions = std::chrono::steady_clock::now();
    CDeletionsCallback deletions;
    if (CKxError e = CPathCacheFlatFileIndex::Compare(previous, current, deletions, 0,
                                                      std::make_shared<CBenchParser>(),
                                                      std::make_shared<CBenchParser>());
        e.IsError())
        Fail("compare", e);
    std::printf("dc_compare phase=compare_deletions seconds=%.3f deleted=%llu new=%llu\n", Seconds(startDeletions),
                deletions.deleted, deletions.added);
    const auto start = std::chrono::steady_clock::now();
    CCountingCallback callback;
    if (CKxError e = CPathCacheFlatFileIndex::Compare(previous, current, callback, 0,
                                                      std::make_shared<CBenchParser>(),
                                                      std::make_shared<CBenchParser>());
        e.IsError())
        Fail("compare", e);
    const double seconds = Seconds(start);
    std::printf("dc_compare phase=compare seconds=%.3f in_both=%llu changed=%llu deleted=%llu new=%llu "
                "peak_rss_kib=%ld\n",
                seconds, callback.both, callback.changed, callback.deleted, callback.added, PeakRssKib());
    return 0;
}

int RunChild(const char* self, std::vector<std::string> args)
{
    std::vector<char*> argv;
    std::string program = self;
    argv.push_back(program.data());
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t child = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("dc_compare: posix_spawn");
        return 1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    SOptions options;
    std::string phase;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "dc_compare: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--items")
            options.items = std::strtoull(next().c_str(), nullptr, 10);
        else if (arg == "--per-folder")
            options.perFolder = static_cast<unsigned>(std::strtoul(next().c_str(), nullptr, 10));
        else if (arg == "--threads")
            options.threads = static_cast<unsigned>(std::strtoul(next().c_str(), nullptr, 10));
        else if (arg == "--dir")
            options.dir = next();
        else if (arg == "--write-only")
            options.writeOnly = true;
        else if (arg == "--baseline")
            options.baseline = true;
        else if (arg == "--phase")
            phase = next();
        else if (!arg.empty() && arg[0] != '-')
            files.push_back(arg);
        else {
            std::fprintf(stderr,
                         "usage: dc_compare [--items N] [--per-folder K] [--threads T] [--dir DIR] [--baseline | --write-only]\n");
            return 2;
        }
    }
    if (options.perFolder == 0 || options.threads == 0) {
        std::fprintf(stderr, "dc_compare: --per-folder and --threads must be positive\n");
        return 2;
    }
    if (phase == "lookup" && files.size() == 1)
        return PhaseLookup(options, files[0]);
    if (phase == "compare" && files.size() == 2)
        return PhaseCompare(files[0], files[1]);
    if (!phase.empty()) {
        std::fprintf(stderr, "dc_compare: bad --phase arguments\n");
        return 2;
    }

    ::mkdir(options.dir.c_str(), 0755);
    if (options.baseline || options.writeOnly) {
        WriteFile(options, options.dir + "/DCbaseline.zvf", false);
        ::unlink((options.dir + "/DCbaseline.zvf").c_str());
        return 0;
    }
    const std::string previous = options.dir + "/DCprev.zvf";
    const std::string current = options.dir + "/DCcur.zvf";
    WriteFile(options, previous, false);
    WriteFile(options, current, true);
    std::printf("dc_compare phase=write peak_rss_kib=%ld\n", PeakRssKib());
    const std::vector<std::string> common = {"--items", std::to_string(options.items), "--per-folder",
                                             std::to_string(options.perFolder), "--threads",
                                             std::to_string(options.threads)};
    std::vector<std::string> lookup = common;
    lookup.insert(lookup.end(), {"--phase", "lookup", previous});
    std::vector<std::string> compare = common;
    compare.insert(compare.end(), {"--phase", "compare", previous, current});
    int status = RunChild(argv[0], lookup);
    status |= RunChild(argv[0], compare);
    ::unlink(previous.c_str());
    ::unlink(current.c_str());
    return status;
}
