// Archiving jobs on a small volume of their own: which files the disk-cleanup rules pick.
//
// The volume is a 20 MiB tmpfs mounted in a private mount namespace of a child process (in a
// user namespace of its own when the tests do not run as root, as `unshare -rm` does); the child
// makes the files, holds what must be held (an open file, a lock) and runs fsweep there.
#include "e2e/ScanJobFixture.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

namespace e2e {
namespace {

constexpr off_t kMiB = 1 << 20;
constexpr long kDay = 86400;
constexpr int kCannotMount = 77;

enum class EHold { None, Open, Lock, Stub };
struct SFile {
    const char* name;
    long ageSeconds;  // access and modification time this long before the files are made
    EHold hold = EHold::None;
};

class ArchivingTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        m_volume = m_root + "/volume";
        fs::create_directories(m_volume);
        WriteRules(kRules);
    }

    static constexpr const char* kRules = R"("archiving": {"accessedDays": 30, "modifiedDays": 30,
        "minFileSize": 1048576, "maxFileSize": 0, "extensions": ["log"], "highFreePercent": 40,
        "lowFreePercent": 20, "skipSmallerFiles": false, "skipLockTest": false, "reportCandidates": true})";
    void WriteRules(const std::string& rules) { WriteSubclient("\"content\": [\"" + m_volume + "\"], " + rules); }

    // In the child: a private tmpfs on m_volume; false when this machine allows no such mount.
    bool MountVolume() const
    {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (uid == 0) {
            if (::unshare(CLONE_NEWNS) != 0)
                return false;
        } else if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !WriteBytes("/proc/self/setgroups", "deny") ||
                   !WriteBytes("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                   !WriteBytes("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return false;
        }
        return ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("tmpfs", m_volume.c_str(), "tmpfs", 0, "size=20m") == 0;
    }

    // In the child: the files of 1 MiB each, then a filler ("fill.dat", new) up to `usedPercent`
    // of the volume.
    void MakeFiles(const std::vector<SFile>& files, int usedPercent, std::vector<int>& held) const
    {
        const std::string block(kMiB, 'd');
        const std::time_t now = std::time(nullptr);
        for (const SFile& file : files) {
            const std::string path = m_volume + "/" + file.name;
            if (!WriteBytes(path, block))
                ::_exit(120);
            const timespec times[2] = {{now - file.ageSeconds, 0}, {now - file.ageSeconds, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
            if (file.hold == EHold::Stub)
                ::setxattr(path.c_str(), "user.fsweep.stub", "1", 1, 0);
            if (file.hold == EHold::Open || file.hold == EHold::Lock)
                held.push_back(::open(path.c_str(), O_RDWR | O_CLOEXEC));
            struct flock lock {};
            lock.l_type = F_WRLCK;
            if (file.hold == EHold::Lock && ::fcntl(held.back(), F_OFD_SETLK, &lock) != 0)
                ::_exit(121);
        }
        struct statvfs space {};
        ::statvfs(m_volume.c_str(), &space);
        const long long total = static_cast<long long>(space.f_blocks) * space.f_frsize;
        const long long used = total - static_cast<long long>(space.f_bavail) * space.f_frsize;
        const long long more = total * usedPercent / 100 - used;
        if (more > 0 && !WriteBytes(m_volume + "/fill.dat", std::string(static_cast<size_t>(more), 'f')))
            ::_exit(122);
    }

    // Runs archiving job `jobId` (with `extra` options) over the volume so made; false when the
    // volume cannot be mounted.
    bool Archive(int jobId, const std::vector<SFile>& files, int usedPercent, const std::vector<std::string>& extra = {})
    {
        const pid_t child = ::fork();
        if (child == 0) {
            if (!MountVolume())
                ::_exit(kCannotMount);
            std::vector<int> held;
            MakeFiles(files, usedPercent, held);
            std::vector<std::string> args = JobArgs(jobId, 1, {"-stub"});
            args.insert(args.end(), extra.begin(), extra.end());
            const pid_t scan = Start(Binary("fsweep"), args, false, ::open("/dev/null", O_WRONLY), ::dup(2));
            int status = 0;
            ::waitpid(scan, &status, 0);
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 126);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotMount)
            return false;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        return true;
    }

    // The names the stub collect file lists.
    std::set<std::string> Selected() const
    {
        std::set<std::string> names;
        for (const auto& [path, count] : ListedIn("StubCollect"))
            names.insert(fs::path(path).filename().string());
        return names;
    }
    std::string Report() const { return Read(m_instance + "/Log_Files/ArchiveJobStatistics.log"); }

    std::string m_volume;
};

// Old log files are selected until the volume is back at its high watermark; then the rules'
// boundaries and the files that must stay.
TEST_F(ArchivingTest, OldLogFilesAreSelectedUntilTheHighWatermarkWithinTheRulesBoundaries)
{
    std::vector<SFile> files = {{"recent.log", 0}, {"old.txt", 40 * kDay}};
    for (const char* name : {"old1.log", "old2.log", "old3.log", "old4.log", "old5.log", "old6.log", "old7.log"})
        files.push_back({name, 40 * kDay});
    if (!Archive(1, files, 85))
        GTEST_SKIP() << "this machine allows neither a root mount nor a user namespace's (unshare -rm)";
    ExpectPhaseCompleted();

    const std::string log = Log();
    const size_t at = log.rfind("] bytes to free on Volume=[");
    ASSERT_NE(at, std::string::npos);
    const long long toFree = std::atoll(log.c_str() + log.rfind('[', at) + 1);
    const std::set<std::string> selected = Selected();
    for (const std::string& name : selected)
        EXPECT_TRUE(name.starts_with("old") && name.ends_with(".log")) << name;
    // Each stub keeps one block: the fewest files whose savings reach the figure.
    const long long saving = kMiB - ::sysconf(_SC_PAGESIZE);
    const long long n = static_cast<long long>(selected.size());
    EXPECT_GE(n * saving, toFree);
    EXPECT_LT((n - 1) * saving, toFree);

    const struct {
        const char* name;
        std::vector<SFile> files = {};
        int usedPercent = 85;
        std::set<std::string> selected = {};
        std::vector<std::string> inReport = {};  // lines of the stubbing report
        const char* inLog = "";
        std::vector<std::string> extra = {};
        const char* rules = kRules;
    } cases[] = {
        {.name = "ages at the rule's boundary and files that must stay",
         .files = {{"exact30.log", 30 * kDay}, {"young.log", 30 * kDay - 60}, {"open.log", 40 * kDay, EHold::Open},
                   {"locked.log", 40 * kDay, EHold::Lock}, {"stub.log", 40 * kDay, EHold::Stub}},
         .selected = {"exact30.log"},
         .inReport = {"young.log], Action:[NotArchivingCandidate], Reason:[accessed 29 days ago",
                      "open.log], Action:[NotArchivingCandidate], Reason:[file is open or memory-mapped]",
                      "locked.log], Action:[NotArchivingCandidate], Reason:[mandatory lock exists on file]",
                      "stub.log], Action:[NotArchivingCandidate], Reason:[already a stub]"},
         .inLog = "] bytes to free on Volume=["},
        {.name = "free space above the low watermark", .files = {{"old.log", 40 * kDay}}, .usedPercent = 50,
         .inLog = "There is nothing to archive for volume ["},
        {.name = "an ad hoc job takes any file but a stub", .files = {{"new.txt", 0}, {"stub.log", 40 * kDay, EHold::Stub}},
         .usedPercent = 0, .selected = {"new.txt"},
         .inReport = {"new.txt], Action:[StubbingCandidate], Reason:[on-demand archiving]",
                      "stub.log], Action:[NotArchivingCandidate], Reason:[already a stub]"},
         .inLog = "Creating AlwaysArchive evaluator for ad-hoc job", .extra = {"-adhoc"}},
        {.name = "no rule at all selects nothing, not everything", .files = {{"old.log", 40 * kDay}},
         .inLog = "No archiving rules are configured", .rules = R"("archiving": {"highFreePercent": 40, "lowFreePercent": 20})"},
    };
    int jobId = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_instance + "/Log_Files/fsweep.log");
        WriteRules(c.rules);
        if (!Archive(++jobId, c.files, c.usedPercent, c.extra))
            GTEST_SKIP() << "this machine allows neither a root mount nor a user namespace's (unshare -rm)";
        ExpectPhaseCompleted(jobId);
        EXPECT_EQ(Selected(), c.selected);
        const std::string report = Report();
        for (const std::string& line : c.inReport)
            EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
        EXPECT_NE(Log().find(c.inLog), std::string::npos);
    }
}

}  // namespace
}  // namespace e2e
