#pragma once
// ChangeJournalFixture: instances whose incrementals may read a change journal instead of walking,
// the journal daemon (fsjournald) that keeps it, and one job of an instance run through scan and
// backup phase with what it selected, what it found deleted and how it found it.
//
// Scans run as root here: the journal is root's (mode 0600) and the daemon answers root only.
// Every daemon runs in a mount namespace of its own, so that a mount made elsewhere on this
// machine (another test, another program) does not break its journals in the middle of a case;
// a case that wants a mount to break them makes it in that namespace (MountInDaemonNamespace).
#include "ScanJobFixture.h"

#include <sched.h>
#include <sys/mount.h>

#include <csignal>

namespace e2e {

class ChangeJournalFixture : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        if (!m_asRoot)
            GTEST_SKIP() << "the change journal's daemon and its scans run as root";
    }
    void TearDown() override
    {
        for (const auto& [name, pid] : m_daemons)
            EndProcess(pid, SIGKILL);
        ScanJobFixture::TearDown();
    }

    // The daemon of this build, empty when it is not built.
    static std::string DaemonBinary()
    {
        for (const char* path : {"/src/fsjournald", "/src/Tools/fsjournald"})
            if (::access((std::string(FSWEEP_BINARY_DIR) + path).c_str(), X_OK) == 0)
                return std::string(FSWEEP_BINARY_DIR) + path;
        return std::string();
    }

    // Instance `name` (under the scratch root) becomes the current one: the fixture's reading
    // helpers (Results, ListedIn, ReferenceOf, ...) look at it.
    void Use(const std::string& name)
    {
        m_vm = name;
        m_instance = m_root + "/" + name;
        fs::create_directories(m_instance + "/registry");
        fs::create_directories(m_instance + "/config/apps");
    }
    // The current instance's subclient backs up `content`, reading the journal when `journal`.
    void Subclient(const std::vector<std::string>& content, bool journal, const std::string& more = "")
    {
        Content(content, std::string("\"changeJournal\": ") + (journal ? "true" : "false") +
                             (more.empty() ? "" : ", " + more));
    }

    enum class EDaemon { Ready, Missing, Refused };
    // Starts the daemon on the current instance as `uid`, with `env` (NAME=value entries) added to
    // its environment, and waits until its marks are in place. Refused: it exited with status 3
    // (fanotify not permitted); its standard error is in m_daemonErr.
    EDaemon StartDaemon(uid_t uid = 0, const std::vector<std::string>& env = {})
    {
        const std::string binary = DaemonBinary();
        if (binary.empty())
            return EDaemon::Missing;
        if (uid != 0) {  // the instance is handed to that user, as an operator would
            std::error_code ignored;
            for (const auto& entry : fs::recursive_directory_iterator(m_instance, ignored))
                (void)::lchown(entry.path().c_str(), uid, uid);
            (void)::lchown(m_instance.c_str(), uid, uid);
        }
        const std::string outPath = m_instance + ".daemon.out", errPath = m_instance + ".daemon.err";
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_TRUE(out >= 0 && err >= 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                ::_exit(121);
            if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                             ::setresuid(uid, uid, uid) != 0))
                ::_exit(120);
            ::setenv("FSWEEP_ROOT", m_root.c_str(), 1);
            for (const std::string& entry : env)
                ::putenv(const_cast<char*>(entry.c_str()));
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::execl(binary.c_str(), binary.c_str(), "-vm", m_vm.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out);
        ::close(err);
        for (int waited = 0; waited < 3000; ++waited) {  // 30 s
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                m_daemonErr = Read(errPath);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3)
                    << "fsjournald ended with status " << status << ": " << m_daemonErr;
                return EDaemon::Refused;
            }
            if (Read(outPath).find("fsjournald: ready\n") != std::string::npos) {
                m_daemons[m_vm] = child;
                return EDaemon::Ready;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ADD_FAILURE() << "fsjournald did not get ready in 30 s: " << Read(errPath);
        return EDaemon::Refused;
    }
    // Sends `signal` to the daemon `pid` and waits for it; its wait status.
    static int EndProcess(pid_t pid, int signal)
    {
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }
    pid_t DaemonPid() const { return m_daemons.contains(m_vm) ? m_daemons.at(m_vm) : 0; }
    // Stops the current instance's daemon with `signal`; its wait status.
    int StopDaemon(int signal)
    {
        const int status = EndProcess(DaemonPid(), signal);
        m_daemons.erase(m_vm);
        return status;
    }
    // Mounts a scratch file system on `folder` in the current daemon's mount namespace.
    bool MountInDaemonNamespace(const std::string& folder) const
    {
        const pid_t child = ::fork();
        if (child == 0) {
            const int ns = ::open(("/proc/" + std::to_string(DaemonPid()) + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
            ::_exit(ns >= 0 && ::setns(ns, CLONE_NEWNS) == 0 &&
                            ::mount("fsweep-test", folder.c_str(), "tmpfs", 0, "size=1m") == 0
                        ? 0
                        : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    struct SJob {
        std::set<std::string> items;           // decoded, folders with their '/'
        std::multiset<std::string> deletions;  // the "??d" / "??D" lines
        std::string journal;                   // the job's "Change journal: ..." log line after that prefix
        bool Walked() const { return !journal.starts_with("reading "); }
        // Walked for a hard link made on the same file system outside `tree` (by another test or
        // program): every journal of a file system hears of every link made on it.
        bool WalkedForLinkOutside(const std::string& tree) const
        {
            const std::string prefix = "walking the content: a new link [";
            return journal.starts_with(prefix) && !journal.starts_with(prefix + tree + "/");
        }
    };
    // Runs job `jobId` of `type` on the current instance (against `reference` unless a full) and
    // its backup phase; what its collect files hold and how it found it.
    SJob Job(int jobId, int type, std::int64_t reference = 0, const std::vector<std::string>& extra = {})
    {
        const std::string logPath = m_instance + "/Log_Files/fsweep.log";
        std::error_code absent;
        const std::uintmax_t logged = fs::exists(logPath) ? fs::file_size(logPath, absent) : 0;
        std::vector<std::string> more = extra;
        if (type != 1)
            more.insert(more.begin(), {"-ref", std::to_string(reference)});
        std::vector<std::string> args = JobArgs(jobId, type, more);
        args[1] = m_vm;
        SJob job;
        const RunResult scan = Run(Binary("fsweep"), args, false);
        EXPECT_EQ(scan.status, 0) << m_vm << " job " << jobId << ": " << scan.err;
        ExpectPhaseCompleted(jobId);
        const RunResult backup = Run(Binary("fsbackup"), {"-vm", m_vm, "-j", std::to_string(jobId), "-a", "2:5", "-t",
                                                          std::to_string(type)},
                                     false);
        EXPECT_EQ(backup.status, 0) << m_vm << " job " << jobId << ": " << backup.out << backup.err;
        std::vector<std::string> gone;
        for (const auto& [path, count] : ListedIn(type == 1 ? "CollectTot" : "CollectInc", &gone)) {
            EXPECT_EQ(count, 1) << m_vm << " job " << jobId << " lists twice: " << path;
            job.items.insert(path);
        }
        job.deletions.insert(gone.begin(), gone.end());
        const std::string log = Read(logPath).substr(logged);
        const std::string prefix = "Change journal: ";
        if (const size_t at = log.find(prefix); at != std::string::npos)
            job.journal = log.substr(at + prefix.size(), log.find('\n', at) - at - prefix.size());
        return job;
    }

    std::string m_vm = "inst";
    std::string m_daemonErr;
    std::map<std::string, pid_t> m_daemons;  // by instance
};

}  // namespace e2e
