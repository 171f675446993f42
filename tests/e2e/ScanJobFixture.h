#pragma once
// ScanJobFixture: runs the real fsweep and fsbackup binaries on real trees in a scratch instance
// and reads back what they leave: collect files (decoded), the failure list, the job-manager
// journal.
//
// When the tests run as root, fsweep runs as the unprivileged user "nobody" (a forked child with
// setresuid; the instance is handed to that user), so that a folder readable by root only is an
// unreadable folder for the scan. Otherwise the folder's mode is 000 and the scan runs as the
// test's own user.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Base/FileNameEscaping.h"
#include "CollectFile/CollectEvidence.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <ranges>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>


namespace e2e {

namespace fs = std::filesystem;

constexpr uid_t kScanUser = 65534;  // nobody

// Writes `text` to `path`, made if need be and never through a symbolic link; whether all of it
// was written.
inline bool WriteBytes(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && written;
}

// The application around subclient 2:5; the members of "client" and "backupSet".
struct SApp {
    int appType = 29;
    bool indexV2 = true;
    std::string client = R"("id": 2, "name": "client1")";
    std::string backupSet = R"("name": "defaultBackupSet", "default": true)";
};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

class ScanJobFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::string& binary : {Binary("fsweep"), Binary("fsbackup")})
            ASSERT_TRUE(fs::exists(binary)) << binary << " is missing: build the fsweep and fsbackup targets first";
        m_root = MakeScratch(fs::temp_directory_path().string());
        Use("inst");
        m_tree = m_root + "/tree";
        m_data = m_tree + "/data";
        fs::create_directories(m_tree);
        m_asRoot = ::geteuid() == 0;
    }
    void TearDown() override
    {
        std::error_code ignored;
        for (const std::string& folder : m_lockedFolders)
            ::chmod(folder.c_str(), 0755);
        fs::remove_all(m_root, ignored);
        if (!m_shm.empty())
            fs::remove_all(m_shm, ignored);
    }

    static std::string MakeScratch(const std::string& parent)
    {
        std::string pattern = parent + "/fsweep-full-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return std::string();
        ::chmod(pattern.c_str(), 0755);
        return pattern;
    }
    static std::string Binary(const std::string& name) { return std::string(FSWEEP_BINARY_DIR) + "/src/" + name; }

    // ---- the tree ----
    static void WriteText(const std::string& path, const std::string& text)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    static void WriteLines(const std::string& path, const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        WriteText(path, text);
    }
    // Rewrites `path` with the lines `keep` accepts, then `more`.
    template <typename Keep>
    static void KeepLines(const std::string& path, Keep keep, const std::vector<std::string>& more = {})
    {
        std::vector<std::string> lines;
        std::ranges::copy_if(Lines(path), std::back_inserter(lines), keep);
        lines.insert(lines.end(), more.begin(), more.end());
        WriteLines(path, lines);
    }
    // A folder the scan's user cannot read (its parent can be read, so the folder itself is
    // listed).
    void MakeUnreadable(const std::string& folder)
    {
        fs::create_directories(folder);
        WriteText(folder + "/secret.txt", "s");
        ::chmod(folder.c_str(), m_asRoot ? 0700 : 0000);
        m_lockedFolders.push_back(folder);
    }
    // Nested and empty folders, links, a fifo, hard links, sparse and large files, and names
    // that need escaping.
    void MakeRichTree(const std::string& data)
    {
        fs::create_directories(data + "/empty");
        fs::create_directories(data + "/nested/empty too");
        WriteText(data + "/nested/a/b/c/deep.txt", "deep");
        WriteText(data + "/nested/a/one.txt", "1");
        WriteText(data + "/name with spaces.txt", "s");
        WriteText(data + "/new\nline.txt", "n");
        WriteText(data + "/pipe|name.txt", "p");
        WriteText(data + "/back\\slash.txt", "b");
        WriteText(data + "/tab\tand\x7f" "del.txt", "t");
        WriteText(data + "/bad\xff\xfe" "utf8.txt", "u");
        WriteText(data + "/folder\nwith|odd\\name/inside.txt", "i");
        fs::create_directory_symlink("nested", data + "/link");
        fs::create_symlink("/nowhere/at/all", data + "/dangling");
        ASSERT_EQ(::mkfifo((data + "/fifo").c_str(), 0644), 0);
        WriteText(data + "/hard1", "hard");
        fs::create_hard_link(data + "/hard1", data + "/hard2");
        WriteText(data + "/large.bin", std::string(8 << 20, 'L'));
        WriteText(data + "/sparse.bin", "");  // a hole of 64 MiB less a byte, then "x"
        fs::resize_file(data + "/sparse.bin", (64 << 20) - 1);
        std::ofstream(data + "/sparse.bin", std::ios::binary | std::ios::app) << 'x';
    }

    // ---- the instance ----
    // Instance `name` (under the scratch root) becomes the current one: the helpers that run a
    // job's phases and read its results look at it.
    void Use(const std::string& name)
    {
        m_vm = name;
        m_instance = m_root + "/" + name;
        fs::create_directories(m_instance + "/registry");
        fs::create_directories(m_instance + "/config/apps");
    }
    void WriteSubclient(const std::string& members, const SApp& app = {})
    {
        WriteText(m_instance + "/config/apps/2:5.json",
                  "{\"appType\": " + std::to_string(app.appType) + ", \"indexV2\": " + (app.indexV2 ? "true" : "false") +
                      ", \"client\": {" + app.client + "}, \"backupSet\": {" + app.backupSet +
                      R"(}, "subclient": {"id": 5, "name": "sc1", )" + members + "}}\n");
    }
    static std::string List(const std::vector<std::string>& entries) { return nlohmann::json(entries).dump(); }
    void Content(const std::vector<std::string>& content, const std::string& more = "", const SApp& app = {})
    {
        WriteSubclient("\"content\": " + List(content) + (more.empty() ? "" : ", " + more), app);
    }
    static SApp UsersBackupSet() { return {.backupSet = R"("name": "users", "default": false)"}; }

    // ---- running the binaries ----
    // Starts `binary` with FSWEEP_ROOT at the scratch root, `env` (NAME=value entries) added and
    // standard output and error on `out` and `err` (closed here). With `asScanUser`, when the
    // tests run as root, the instance is handed to the scan user and the child drops to it.
    pid_t Start(const std::string& binary, const std::vector<std::string>& args, bool asScanUser, int out, int err,
                const std::vector<std::string>& env = {})
    {
        const bool drop = asScanUser && m_asRoot;
        if (drop) {
            std::error_code ignored;
            for (const auto& entry : fs::recursive_directory_iterator(m_instance, ignored))
                (void)::lchown(entry.path().c_str(), kScanUser, kScanUser);
            (void)::lchown(m_instance.c_str(), kScanUser, kScanUser);
        }
        const pid_t child = ::fork();
        if (child == 0) {
            if (drop && (::setgroups(0, nullptr) != 0 || ::setresgid(kScanUser, kScanUser, kScanUser) != 0 ||
                         ::setresuid(kScanUser, kScanUser, kScanUser) != 0))
                ::_exit(120);
            ::setenv("FSWEEP_ROOT", m_root.c_str(), 1);
            for (const std::vector<std::string>& entries : {std::cref(m_env), std::cref(env)})
                for (const std::string& entry : entries)
                    ::putenv(const_cast<char*>(entry.c_str()));
            ::dup2(out, 1);
            ::dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(binary.c_str())};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(binary.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out);
        ::close(err);
        return child;
    }
    // Runs `binary` to its end (see Start). With `terminal`, standard error is a terminal whose
    // output lands in `err`.
    RunResult Run(const std::string& binary, const std::vector<std::string>& args, bool asScanUser,
                  bool terminal = false, const std::vector<std::string>& env = {})
    {
        const std::string outPath = m_root + "/run.out", errPath = m_root + "/run.err";
        const int master = terminal ? ::posix_openpt(O_RDWR | O_NOCTTY) : -1;
        if (terminal && (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0))
            return {};
        // Opened here, by the test's user: the scan user may not create files in the scratch root.
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const int err = terminal ? ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC)
                                 : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (out < 0 || err < 0)
            return {};
        const pid_t child = Start(binary, args, asScanUser, out, err, env);
        RunResult result;
        if (terminal) {
            // Drain the terminal while the child runs, so that it never blocks on a full buffer, and
            // once more after its end.
            char buffer[4096];
            for (bool ended = false;;) {
                pollfd ready{master, POLLIN, 0};
                for (ssize_t got = 1; got > 0 && ::poll(&ready, 1, ended ? 0 : 200) > 0;)
                    if ((got = ::read(master, buffer, sizeof buffer)) > 0)
                        result.err.append(buffer, static_cast<size_t>(got));
                if (ended)
                    break;
                int status = 0;
                if (::waitpid(child, &status, WNOHANG) == child) {
                    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                    ended = true;
                }
            }
            ::close(master);
        } else {
            int status = 0;
            ::waitpid(child, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            result.err = Read(errPath);
        }
        result.out = Read(outPath);
        return result;
    }
    // A full scan as job 1.
    RunResult Scan(const std::vector<std::string>& extra = {}, bool terminal = false)
    {
        return ScanJob(1, 1, extra, terminal);
    }
    // The command line of scan job `jobId` on application 2:5 of the current instance, with `extra`
    // options after it.
    std::vector<std::string> JobArgs(int jobId, int backupType, const std::vector<std::string>& extra = {}) const
    {
        std::vector<std::string> args = {"-vm", m_vm, "-j", std::to_string(jobId), "-a", "2:5", "-cn", "client1",
                                         "-jt", "tok", "-t", std::to_string(backupType)};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    RunResult ScanJob(int jobId, int backupType, const std::vector<std::string>& extra = {}, bool terminal = false)
    {
        return Run(Binary("fsweep"), JobArgs(jobId, backupType, extra), m_scanAsUser, terminal);
    }
    // The backup phase of job `jobId`, with `extra` options after its command line.
    RunResult Backup(int jobId = 1, int backupType = 1, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"-vm", m_vm, "-j", std::to_string(jobId), "-a", "2:5", "-t",
                                         std::to_string(backupType)};
        args.insert(args.end(), extra.begin(), extra.end());
        return Run(Binary("fsbackup"), args, false);
    }

    // ---- a job's phases, expected to succeed ----
    static constexpr std::int64_t kAfterPrevious = -1;
    // Scan job `jobId` of `type` with `extra` options, in a second of its own (see NextSecond); a
    // non-full one runs against `reference` (kAfterPrevious: the reference job jobId - 1 handed to
    // its backup phase). The job manager must have been told that the phase completed.
    void Scanned(int jobId, int type, std::int64_t reference = kAfterPrevious, std::vector<std::string> extra = {})
    {
        NextSecond();
        if (type != 1)
            extra.insert(extra.end(), {"-ref", std::to_string(reference == kAfterPrevious ? ReferenceOf(jobId - 1)
                                                                                           : reference)});
        const RunResult scan = ScanJob(jobId, type, extra);
        EXPECT_EQ(scan.status, 0) << m_vm << " job " << jobId << ": " << scan.err;
        ExpectPhaseCompleted(jobId);
    }
    // The backup phase of job `jobId`, which must succeed; its output.
    std::string BackedUp(int jobId, int type, const std::vector<std::string>& extra = {})
    {
        const RunResult backup = Backup(jobId, type, extra);
        EXPECT_EQ(backup.status, 0) << m_vm << " job " << jobId << ": " << backup.out << backup.err;
        return backup.out;
    }
    // Both phases of job `jobId`; the backup phase's output.
    std::string Job(int jobId, int type, std::int64_t reference = kAfterPrevious,
                    const std::vector<std::string>& extra = {})
    {
        Scanned(jobId, type, reference, extra);
        return BackedUp(jobId, type);
    }

    // ---- the instance's files ----
    void Settings(const std::string& lines) const { WriteText(m_instance + "/registry/FileSystemAgent", lines); }
    std::string Log() const { return Read(m_instance + "/Log_Files/fsweep.log"); }
    // Job `jobId`'s journal is forgotten: a case run again as the same job starts without it.
    void ForgetJournal(int jobId = 1) const { fs::remove(m_instance + "/JobManager/" + std::to_string(jobId) + ".jsonl"); }
    // The evidence a scan leaves for the collect files of `family` ("Tot" or "Inc") of `results`.
    static void Seal(const std::string& results, const std::string& family)
    {
        std::vector<std::string> names;
        ASSERT_TRUE(CCollectEvidence::ListCovered(results, "Collect" + family + "*.zvf", "split_config", names)
                        .IsSuccess());
        ASSERT_TRUE(CCollectEvidence::Write(results + "/CollectEvidence" + family + ".zvf", results, names).IsSuccess());
    }
    // Gives `path` access and write times long past, as a copy that keeps times would.
    static void Backdate(const std::string& path)
    {
        const timespec times[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
    }

    // ---- reading the results ----
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static std::vector<std::string> Lines(const std::string& path)
    {
        std::vector<std::string> lines;
        std::ifstream in(path, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::string Results() const { return m_instance + "/JobResults/2/5"; }
    // The files of the results folder whose names begin with `stem`, sorted.
    std::vector<std::string> ResultFiles(const std::string& stem) const
    {
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(Results()))
            if (entry.path().filename().string().starts_with(stem))
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        return files;
    }
    // The collect files of a full: CollectTot<something>.zvf.
    std::vector<std::string> CollectFiles() const
    {
        std::vector<std::string> files = ResultFiles("CollectTot");
        std::erase_if(files, [](const std::string& file) { return !file.ends_with(".zvf") || file.ends_with("/CollectTot.zvf"); });
        return files;
    }
    // The decoded item lines of `files` (folders keep their '/'), with how often each occurs;
    // the "??" deletion lines are no items: they go to `deletions` when it is given; the job's
    // own results-folder files ("%SCFILES%") are no content and are left out.
    std::map<std::string, int> Listed(const std::vector<std::string>& files,
                                      std::vector<std::string>* deletions = nullptr) const
    {
        std::map<std::string, int> listed;
        for (const std::string& file : files)
            for (std::string line : Lines(file)) {
                if (line.starts_with("%SCFILES%"))
                    continue;
                if (line.starts_with("??")) {
                    if (deletions)
                        deletions->push_back(line);
                    continue;
                }
                const size_t bar = line.rfind('|');
                if (bar != std::string::npos)
                    line.resize(bar);
                std::string path;
                EXPECT_TRUE(unescapeFileName(line, path).IsSuccess()) << file << ": " << line;
                ++listed[path];
            }
        return listed;
    }
    std::map<std::string, int> Listed() const { return Listed(CollectFiles()); }
    // What the job of `type` just run selected: its items, each listed once, and its deletion lines.
    struct SSelected {
        std::set<std::string> items;           // decoded, folders with their '/'
        std::multiset<std::string> deletions;  // the "??d" / "??D" lines
    };
    SSelected Selected(int type) const
    {
        SSelected job;
        std::vector<std::string> gone;
        for (const auto& [path, count] : ListedIn(type == 1 ? "CollectTot" : "CollectInc", &gone)) {
            EXPECT_EQ(count, 1) << m_vm << " lists twice: " << path;
            job.items.insert(path);
        }
        job.deletions.insert(gone.begin(), gone.end());
        return job;
    }
    // The same for every file of the results folder named `stem`... (the job's deletion list too).
    std::map<std::string, int> ListedIn(const std::string& stem, std::vector<std::string>* deletions = nullptr) const
    {
        return Listed(ResultFiles(stem), deletions);
    }

    // Every item at and below `root` as a collect line names it ("path/" for folders), except
    // what `skip` refuses (a refused folder takes its tree with it) and the contents of
    // unreadable folders.
    template <typename Skip>
    std::set<std::string> TreeItems(const std::string& root, Skip skip) const
    {
        std::set<std::string> items;
        items.insert(root + "/");
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
             it.increment(error)) {
            const std::string path = it->path().string();
            const bool folder = it->is_directory(error) && !it->is_symlink(error);
            if (skip(path, folder)) {
                if (folder)
                    it.disable_recursion_pending();
                continue;
            }
            items.insert(folder ? path + "/" : path);
            if (folder && std::find(m_lockedFolders.begin(), m_lockedFolders.end(), path) != m_lockedFolders.end())
                it.disable_recursion_pending();
        }
        return items;
    }
    std::set<std::string> TreeItems(const std::string& root) const
    {
        return TreeItems(root, [](const std::string&, bool) { return false; });
    }
    // The folders above `root`, from "/" to its parent, as folder lines.
    static std::set<std::string> Ancestors(const std::string& root)
    {
        std::set<std::string> lines;
        for (fs::path folder = fs::path(root).parent_path(); !folder.empty(); folder = folder.parent_path()) {
            const std::string text = folder.string();
            lines.insert(text == "/" ? "/" : text + "/");
            if (text == "/")
                break;
        }
        return lines;
    }
    static std::set<std::string> Keys(const std::map<std::string, int>& listed)
    {
        const auto keys = std::views::keys(listed);
        return {keys.begin(), keys.end()};
    }
    static void ExpectEachOnce(const std::map<std::string, int>& listed)
    {
        for (const auto& [path, count] : listed)
            EXPECT_EQ(count, 1) << "[" << path << "] listed " << count << " times";
    }

    std::vector<nlohmann::json> Journal(int jobId = 1) const
    {
        std::vector<nlohmann::json> records;
        for (const std::string& line : Lines(m_instance + "/JobManager/" + std::to_string(jobId) + ".jsonl"))
            records.push_back(nlohmann::json::parse(line));
        return records;
    }
    std::vector<nlohmann::json> Calls(const std::string& call, int jobId = 1) const
    {
        std::vector<nlohmann::json> calls;
        for (const nlohmann::json& record : Journal(jobId))
            if (record.value("call", "") == call)
                calls.push_back(record);
        return calls;
    }
    std::string PhaseParams(int jobId = 1) const
    {
        auto params = Calls("concatPhaseParams", jobId);
        return params.empty() ? std::string() : params.back().value("params", "");
    }
    // The reference time job `jobId` handed to its backup phase (" -r <seconds>"), 0 without one.
    std::int64_t ReferenceOf(int jobId) const
    {
        const std::string params = PhaseParams(jobId);
        const size_t at = params.find(" -r ");
        EXPECT_NE(at, std::string::npos) << params;
        return at == std::string::npos ? 0 : std::atoll(params.c_str() + at + 4);
    }
    // A change made in the second a job starts would be taken by that job and again by the next
    // one (times compare at-or-after): every job starts in a second of its own.
    static void NextSecond()
    {
        const auto next = std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now() +
                                                                  std::chrono::milliseconds(50));
        std::this_thread::sleep_until(next + std::chrono::milliseconds(20));
    }
    void ExpectPhaseCompleted(int jobId = 1) const
    {
        auto completes = Calls("complete", jobId);
        ASSERT_EQ(completes.size(), 1u) << m_vm << " job " << jobId;
        EXPECT_EQ(completes[0].value("status", 0), 1);
        EXPECT_EQ(completes[0].value("for", 0), 1);
    }
    // The message of job `jobId`'s one complete call when it failed the scan phase; else
    // kPhaseNotFailed and what the job manager was told.
    static constexpr std::string_view kPhaseNotFailed = "(phase not failed)";
    std::string FailedPhase(int jobId = 1) const
    {
        auto completes = Calls("complete", jobId);
        const bool failed = completes.size() == 1 && completes[0].value("status", 0) == 2 &&
                            completes[0].value("for", 0) == 1;
        return failed ? completes[0].value("message", "") : std::string(kPhaseNotFailed) + nlohmann::json(completes).dump();
    }
    // `err` is one line from `program`.
    static void ExpectOneLine(const std::string& err, const std::string& program)
    {
        EXPECT_EQ(err.rfind(program + ": ", 0), 0u) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }

    std::string m_root, m_instance, m_tree, m_shm;
    std::string m_data;  // the usual content, below m_tree (made by each test)
    std::string m_vm = "inst";  // the instance's name
    std::vector<std::string> m_lockedFolders;
    std::vector<std::string> m_env;  // NAME=value entries for every binary run
    bool m_asRoot = false;
    bool m_scanAsUser = true;  // fsweep runs as the scan user when the tests run as root
};

}  // namespace e2e
