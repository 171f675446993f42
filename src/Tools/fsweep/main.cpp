// fsweep: the scan process. Parses the job's command line, runs the scan phase through the
// scan library, and exits 0 once the job manager was told the outcome.
//
// Exit status: 0 the job manager was told the outcome (success or failure of the phase; a
// configuration value it refused is also repeated on standard error); 2 a usage error (an
// unknown option or stray argument, a missing or malformed option value, an undetermined job
// type); 3 the job must fall back to the older scanner (the library's code 1630); 1 any other
// failure (a missing instance or configuration, a job manager that could not be told). Every
// non-zero exit prints one line on standard error.
#include "Agent/CommandLineArguments.h"
#include "Agent/OptionTable.h"
#include "Agent/ZVPI_Focus.h"
#include "Base/BackgroundRemover.h"
#include "Base/KxError.h"
#include "Base/LogWriter.h"
#include "Scan/FileScan.h"
#include "Scan/ScanJobFactory.h"
#include "Tools/fsweep/ReportCommand.h"
#include "Tools/fsweep/WhyCommand.h"

#include <sys/stat.h>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <string>

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFallBack = 3;

using V = COptionTable::EValue;

// Every option the scan jobs read. A job manager that sends anything else, or a malformed
// value, gets a usage error before the job starts rather than a job that silently ignores it.
const COptionTable kOptions({
    {"", V::None, "", "Job identity:"},
    {"vm", V::Text, "<instance>", "agent instance"},
    {"j", V::Count, "<jobId>", "job id"},
    {"a", V::Text, "<o>:<a>", "application (subclient), config/apps/<o>:<a>.json"},
    {"cn", V::Text, "<client>", "client name"},
    {"jt", V::Text, "<token>", "job token"},
    {"t", V::BackupType, "<type>", nullptr},
    {"f", V::BackupType, "<type>", "backup type: 1 full, 2 incremental, 4 differential"},
    {"ref", V::Count, "<seconds>", "reference time of a non-full job"},
    {"", V::None, "", "Job kind:"},
    {"snap", V::None, "", nullptr},
    {"snaptape", V::None, "", nullptr},
    {"BlockLevel", V::None, "", nullptr},
    {"attrEx", V::Text, "<n>", nullptr},
    {"dcs", V::None, "", nullptr},
    {"dc", V::None, "", "snapshot catalog and backup jobs"},
    {"snapRefTime", V::Count, "<seconds>", "time the snapshot was taken (catalog jobs: required)"},
    {"depotnode", V::Text, "<server>", "storage server of the snapshot (catalog jobs: required)"},
    {"dcfreezed", V::None, "", "the directory-change record was frozen with the snapshot"},
    {"pcr", V::Count, "<seconds>", "replaces the snapshot's reference time"},
    {"ltr", V::Text, "<value>", "catalog: long-term retention value (logged)"},
    {"amsd", V::None, "", "catalog: snapshots of network shares are mounted automatically"},
    {"stub", V::None, "", nullptr},
    {"synthFull", V::None, "", "archiving (stubbing) jobs"},
    {"rpId", V::Count, "<id>", nullptr},
    {"rpJId", V::Count, "<id>", "disaster-recovery copy"},
    {"fla", V::None, "", "file analytics"},
    {"vmCI", V::None, "", nullptr},
    {"vmCatalog", V::None, "", "virtual-machine content indexing and catalog"},
    {"BlkOfflineCat", V::None, "", "offline block-level catalog"},
    {"emg", V::None, "", "object-store migration (with setting nObjectStoreMigration 1)"},
    {"pkg", V::Text, "<name>", nullptr},
    {"SolrC", V::None, "", "distributed package (\"Hadoop\") or content indexing (\"Solr\")"},
    {"", V::None, "", "Job options:"},
    {"pcs", V::Count, "<n>", nullptr},
    {"pbs", V::Count, "<n>", "previous job valid when 0"},
    {"lf", V::Integer, "<id>", nullptr},
    {"li", V::Integer, "<id>", nullptr},
    {"ls", V::Integer, "<id>", "last full, incremental and synthetic full job ids"},
    {"jilf", V::Count, "<id>", "last job with incomplete large files"},
    {"CommitJobID", V::Integer, "<id>", nullptr},
    {"CommitJobBkupLevel", V::Integer, "<type>", "the job whose items are committed"},
    {"ab", V::Integer, "<n>", "archive-bit flag (non-zero = on)"},
    {"cat", V::Integer, "<n>", "client app type (2 and 10: network-share clients)"},
    {"et", V::Integer, "<seconds>", "phase elapsed time"},
    {"uid", V::Count, "<uid>", "scan as this user"},
    {"adhoc", V::None, "", "ad hoc job"},
    {"seb", V::None, "", "an incremental with nothing to back up may complete in the scan phase"},
    {"aftersynth", V::None, "", "the job follows a synthetic full"},
    {"incimage", V::None, "", "incremental image mode"},
    {"diDAFS", V::None, "", "multi-node job"},
    {"TrueUp", V::None, "", "true-up on demand"},
    {"skipMountPath", V::None, "", "do not follow mount points"},
    {"POC", V::None, "", "proof-of-concept archiving mode"},
    {"clb", V::None, "", "cloud laptop backup"},
    {"amr", V::None, "", "content must be mounted automatically"},
    {"h", V::None, "", nullptr},
    {"-help", V::None, "", "this help"},
    {"-version", V::None, "", "the version"},
});

const char* const kUsageHead =
    "usage: fsweep -vm <instance> -j <jobId> -a <orbundId>:<appNumber> -cn <client> -jt <token>\n"
    "              (-t <backupType> | -f <backupType>) [-ref <seconds>] [options]\n"
    "       fsweep why -vm <instance> -a <orbundId>:<appNumber> [-j <jobId>] <path>...\n"
    "       fsweep report -vm <instance> -j <jobId> [--html <file>]\n"
    "       fsweep --version\n"
    "\n"
    "Runs the scan phase of one backup job of the agent instance $FSWEEP_ROOT/<instance>\n"
    "(FSWEEP_ROOT defaults to /var/opt/fsweep) and reports it to the job manager.\n"
    "\n";
const char* const kUsageTail =
    "\n"
    "Exit status: 0 the job manager was told the outcome; 1 failure; 2 usage error (an unknown\n"
    "option, a malformed value); 3 fall back to the older scanner.\n";

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
    if (argc > 1 && std::string(argv[1]) == "why")
        return RunWhyCommand(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "report")
        return RunReportCommand(argc, argv);
    auto args = std::make_shared<CCommandLineArguments>(argc, argv);
    if (args->GetOption("h") || args->GetOption("-help")) {
        std::printf("%s%s%s", kUsageHead, kOptions.Help().c_str(), kUsageTail);
        return 0;
    }
    if (args->GetOption("-version")) {
        std::printf("fsweep %s\n", FSWEEP_VERSION);
        return 0;
    }
    if (CKxError usage = kOptions.Check(*args); usage.IsError()) {
        std::fprintf(stderr, "fsweep: %s (fsweep -h for help)\n", usage.Message().c_str());
        return kExitUsage;
    }

    std::string instance;
    if (args->GetOption("vm", instance) && ZVPI_Focus::setFocus(instance).IsSuccess()) {
        CKxError logOpened = ZVPI_Focus::openLog();
        if (logOpened.IsError())
            std::fprintf(stderr, "fsweep: log not opened: %s\n", logOpened.OneLine().c_str());
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
        std::fprintf(stderr, "fsweep: %s\n", result.OneLine().c_str());
        return ExitStatusFor(result);
    }
    // The job manager was told; the operator at the terminal hears the same reason.
    if (!scan.GetConfigurationFailure().empty())
        std::fprintf(stderr, "fsweep: %s\n", scan.GetConfigurationFailure().c_str());
    return 0;
}
