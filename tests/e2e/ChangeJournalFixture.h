#pragma once
// ChangeJournalFixture: instances whose incrementals may read a change journal instead of walking,
// the journal daemon (fsjournald) that keeps it, and one job of an instance run through scan and
// backup phase with what it selected, what it found deleted and how it found it.
//
// Scans run as root here: the journal is root's (mode 0600) and the daemon answers root only.
#include "ScanJobFixture.h"

#include <csignal>

namespace e2e {

class ChangeJournalFixture : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        if (!m_asRoot)
            GTEST_SKIP() << "the change journal's daemon and its scans run as root";
        if (!fs::exists(Binary("fsjournald")))  // not built in every build of the test programs
            GTEST_SKIP() << "fsjournald is not built";
        m_scanAsUser = false;
    }
    void TearDown() override
    {
        for (const auto& [name, pid] : m_daemons) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ScanJobFixture::TearDown();
    }

    // The current instance's subclient backs up `content`, reading the journal when `journal`.
    void Subclient(const std::vector<std::string>& content, bool journal, const std::string& more = "")
    {
        Content(content, std::string("\"changeJournal\": ") + (journal ? "true" : "false") +
                             (more.empty() ? "" : ", " + more));
    }

    // Starts the daemon on the current instance (as the scan user with `asScanUser`) with `env`
    // (NAME=value entries) added to its environment; whether its marks got in place. Not: it
    // exited with status 3 (fanotify not permitted), its standard error in m_daemonErr.
    bool StartDaemon(bool asScanUser = false, const std::vector<std::string>& env = {})
    {
        const std::string outPath = m_instance + ".daemon.out", errPath = m_instance + ".daemon.err";
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_TRUE(out >= 0 && err >= 0);
        const pid_t child = Start(Binary("fsjournald"), {"-vm", m_vm}, asScanUser, out, err, env);
        for (int waited = 0; waited < 3000; ++waited) {  // 30 s
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                m_daemonErr = Read(errPath);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3)
                    << "fsjournald ended with status " << status << ": " << m_daemonErr;
                return false;
            }
            if (Read(outPath).find("fsjournald: ready\n") != std::string::npos) {
                m_daemons[m_vm] = child;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_daemons[m_vm] = child;  // killed at the end
        ADD_FAILURE() << "fsjournald did not get ready in 30 s: " << Read(errPath);
        return false;
    }
    pid_t DaemonPid() const { return m_daemons.contains(m_vm) ? m_daemons.at(m_vm) : 0; }
    // Stops the current instance's daemon with `signal`; its wait status.
    int StopDaemon(int signal)
    {
        const pid_t pid = DaemonPid();
        m_daemons.erase(m_vm);
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }

    struct SJob : SSelected {
        std::string journal;  // the job's "Change journal: ..." log line after that prefix
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
    // (Not in a second of its own: the caller waits once for both twins.)
    SJob Job(int jobId, int type, std::int64_t reference = 0)
    {
        const size_t logged = Log().size();
        const RunResult scan = ScanJob(jobId, type, type == 1 ? std::vector<std::string>{}
                                                              : std::vector<std::string>{"-ref", std::to_string(reference)});
        EXPECT_EQ(scan.status, 0) << m_vm << " job " << jobId << ": " << scan.err;
        ExpectPhaseCompleted(jobId);
        BackedUp(jobId, type);
        SJob job{Selected(type), {}};
        const std::string log = Log().substr(logged);
        const std::string prefix = "Change journal: ";
        if (const size_t at = log.find(prefix); at != std::string::npos)
            job.journal = log.substr(at + prefix.size(), log.find('\n', at) - at - prefix.size());
        return job;
    }

    std::string m_daemonErr;
    std::map<std::string, pid_t> m_daemons;  // by instance
};

}  // namespace e2e
