// fsweep: the scan process. Parses the job's command line, runs the scan phase through the
// scan library, and exits 0 once the job manager was told the outcome.
//
// Exit status: 0 the job manager was told the outcome (success or failure of the phase);
// 2 a usage error (a missing or malformed option, an undetermined job type); 3 the job must
// fall back to the older scanner (the library's code 1630); 1 any other failure (a missing
// instance or configuration, a job manager that could not be told). Every non-zero exit
// prints one line on standard error.
#include "Agent/CommandLineArguments.h"
#include "Agent/ZVPI_Focus.h"
#include "Base/BackgroundRemover.h"
#include "Base/KxError.h"
#include "Base/LogWriter.h"
#include "Scan/FileScan.h"
#include "Scan/ScanJobFactory.h"

#include <sys/stat.h>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <string>

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFallBack = 3;

const char* const kUsage =
    "usage: fsweep -vm <instance> -j <jobId> -a <orbundId>:<appNumber> -cn <client> -jt <token>\n"
    "              (-t <backupType> | -f <backupType>) [-ref <seconds>] [options]\n"
    "\n"
    "Runs the scan phase of one backup job of the agent instance $FSWEEP_ROOT/<instance>\n"
    "(FSWEEP_ROOT defaults to /var/opt/fsweep) and reports it to the job manager.\n"
    "\n"
    "Job identity:\n"
    "  -vm <instance>        agent instance\n"
    "  -j <jobId>            job id\n"
    "  -a <o>:<a>            application (subclient), config/apps/<o>:<a>.json\n"
    "  -cn <client>          client name\n"
    "  -jt <token>           job token\n"
    "  -t <type>, -f <type>  backup type: 1 full, 2 incremental, 4 differential\n"
    "  -ref <seconds>        reference time of a non-full job\n"
    "Job kind:\n"
    "  -snap, -snaptape, -BlockLevel, -attrEx <n>, -dcs, -dc   snapshot catalog and backup jobs\n"
    "  -stub, -synthFull     archiving (stubbing) jobs\n"
    "  -rpId, -rpJId         disaster-recovery copy\n"
    "  -fla                  file analytics\n"
    "  -vmCI, -vmCatalog     virtual-machine content indexing and catalog\n"
    "  -BlkOfflineCat        offline block-level catalog\n"
    "  -emg                  object-store migration (with setting nObjectStoreMigration 1)\n"
    "  -pkg <name>, -SolrC   distributed package (\"Hadoop\") or content indexing (\"Solr\")\n"
    "Job options:\n"
    "  -pcs <n>, -pbs <n>    previous job valid when 0\n"
    "  -POC                  proof-of-concept archiving mode\n"
    "  -clb                  cloud laptop backup\n"
    "  -amr                  content must be mounted automatically\n"
    "  -h                    this help\n"
    "\n"
    "Exit status: 0 the job manager was told the outcome; 1 failure; 2 usage error;\n"
    "3 fall back to the older scanner.\n";

// "outer: ...: innermost (code N)" on one line.
std::string OneLineReason(const CKxError& error)
{
    std::string reason;
    const auto& frames = error.Frames();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (it->message.empty())
            continue;
        if (!reason.empty())
            reason += ": ";
        reason += it->message;
    }
    for (char& c : reason)
        if (c == '\n' || c == '\r')
            c = ' ';
    return reason + KxFormat(" (code %ld)", error.Code());
}

int ExitStatusFor(const CKxError& error)
{
    if (error.Code() == KxCode::FallBackToOldScanner)
        return kExitFallBack;
    if (error.Code() == KxCode::InvalidParameter)
        return kExitUsage;
    return kExitFailure;
}
}  // namespace

int main(int argc, char** argv)
{
    // Memory the job frees is kept for its next buffers rather than given back and faulted in
    // again: a fresh page costs the walk far more than the allocation itself (15 us a page on
    // a virtual machine). A job's peak stays what it was; it only is not trimmed midway.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // The walkers' heaps grow in 4 MB steps rather than a few pages at a time: each step is a
    // system call (an mprotect of the thread's heap), and untouched pages cost nothing.
    ::mallopt(M_TOP_PAD, 4 << 20);
    // Whatever mask the caller left, nothing the job creates is writable by group or others.
    ::umask(::umask(022) | 022);
    auto args = std::make_shared<CCommandLineArguments>(argc, argv);
    if (args->GetOption("h") || args->GetOption("-help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    std::string instance;
    if (args->GetOption("vm", instance) && ZVPI_Focus::setFocus(instance).IsSuccess()) {
        CKxError logOpened = ZVPI_Focus::openLog();
        if (logOpened.IsError())
            std::fprintf(stderr, "fsweep: log not opened: %s\n", OneLineReason(logOpened).c_str());
    }

    CFileScan scan(args);
    CKxError result = scan.Process(std::make_shared<CScanJobFactory>(instance));
    // What earlier jobs left is freed while the job runs; a file that could not be is left
    // under its hidden name for the next job's clean-up, and never fails this job.
    if (CKxError removal = CBackgroundRemover::Instance().Drain(); removal.IsError())
        FSLOG_ERROR("A file left by an earlier job could not be removed: %s", removal.AsString().c_str());
    std::fflush(stdout);
    if (result.IsError()) {
        // Without a log file the writer prints errors on standard error; the reason line below
        // is the one line a caller reads there.
        if (!CLogWriter::Instance().Path().empty())
            FSLOG_ERROR("%s", result.AsString().c_str());
        std::fprintf(stderr, "fsweep: %s\n", OneLineReason(result).c_str());
        return ExitStatusFor(result);
    }
    return 0;
}
