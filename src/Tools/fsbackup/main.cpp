// fsbackup: the backup phase that follows a scan, as far as this agent needs one. Reads every
// collect file of the job back (refusing any that is not whole), checks that each listed item can
// be opened, prints a summary, leaves the items it owes for the next scan (the failed-file list;
// with -stopAfter the commit file of an interrupted phase), puts the scan's directory-change
// record in place for the next job when the phase succeeded, and records the outcome in the
// job-manager journal, synced, last.
//
// Exit status: 0 the phase succeeded (items that vanished or cannot be opened are reported, not
// fatal), or stopped as -stopAfter asked; 1 the phase failed (a collect file or the split map
// could not be read, an item line could not be decoded, the journal, the record or a list of
// owed items could not be written, a missing instance or results folder); 2 a usage error. Every non-zero exit prints one line on standard error.
#include "Agent/ApplicationId.h"
#include "Agent/BackupIndexWriter.h"
#include "Agent/FileBackupIndex.h"
#include "Agent/Subclient.h"
#include "Agent/CommandLineArguments.h"
#include "Agent/OptionTable.h"
#include "Agent/EvEvent.h"
#include "Agent/InstancePaths.h"
#include "Agent/JobJournal.h"
#include "Agent/ZVPI_Focus.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/KxError.h"
#include "Base/LogWriter.h"
#include "Base/FileNameEscaping.h"
#include "Scan/ProcessCommitFiles.h"
#include "Tools/fsbackup/BackupPhase.h"
#include "Tools/fsbackup/TrueUpCompletion.h"

#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kStatusSucceeded = 1;
constexpr int kStatusFailed = 2;
constexpr int kStatusInterrupted = 3;
constexpr const char* kAgentSection = "FileSystemAgent";
constexpr const char* kFailPatternKey = "sBackupPhaseFailPattern";

using V = COptionTable::EValue;

const COptionTable kOptions({
    {"vm", V::Text, "<instance>", "agent instance"},
    {"j", V::Count, "<jobId>", "job id (the journal is JobManager/<jobId>.jsonl)"},
    {"a", V::Text, "<o>:<a>", "application (subclient) whose results folder is read"},
    {"t", V::BackupType, "<type>", "backup type the scan ran with: 1 full, 2 incremental, 4 differential"},
    {"stopAfter", V::Count, "<n>",
     "take n files, then stop as an interrupted phase: what is left goes to JobResults/jobs/<jobId>/CommitPending.zvf"},
    {"h", V::None, "", nullptr},
    {"-help", V::None, "", "this help"},
});

const char* const kUsageHead =
    "usage: fsbackup -vm <instance> -j <jobId> -a <orbundId>:<appNumber> -t <backupType>\n"
    "\n"
    "Runs the backup phase of job <jobId> on the subclient results folder of <orbundId>:<appNumber>\n"
    "in the agent instance $FSWEEP_ROOT/<instance> (FSWEEP_ROOT defaults to /var/opt/fsweep):\n"
    "checks the collect files against the whole-file evidence the scan left, reads the split\n"
    "map and every collect file of the backup type back, checks that each\n"
    "listed item can be opened, prints a summary and records it in the job-manager journal.\n"
    "When the phase succeeds it puts the scan's directory-change record in place for the next\n"
    "job (DCTmp.zvf becomes DCTot.zvf and DCInc.zvf after a full, DCInc.zvf otherwise;\n"
    "DirChangePending.db becomes DirChangeFull.db or DirChangeIncremental.db).\n"
    "Items it cannot open are listed in Failures.zvf for the next scan to retry; a phase that\n"
    "succeeds deletes the list the last scan took (Failures.zvf.inprogress).\n"
    "\n";
const char* const kUsageTail =
    "\n"
    "Exit status: 0 the phase succeeded; 1 it failed; 2 usage error (a missing or unknown\n"
    "option, a malformed value).\n";

// Line breaks in a reason (a path may hold them) become blanks: one reason, one line.
std::string Flattened(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

int Fail(int status, const std::string& reason)
{
    std::fflush(stdout);
    std::fprintf(stderr, "fsbackup: %s\n", Flattened(reason).c_str());
    return status;
}

template <typename Number>
bool ParseWhole(const std::string& text, Number& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

void PrintSummary(long long jobId, unsigned int backupType, const std::string& folder, const SBackupPhaseSummary& summary,
                  int streams)
{
    std::printf("fsbackup: job %lld, backup type %u, results folder %s\n", jobId, backupType, folder.c_str());
    std::printf("collect files: %llu (split map lines: %llu)\n", static_cast<unsigned long long>(summary.collectFiles),
                static_cast<unsigned long long>(summary.splitMapLines));
    std::printf("items: %llu (folders: %llu), bytes: %llu\n", static_cast<unsigned long long>(summary.items),
                static_cast<unsigned long long>(summary.folders), static_cast<unsigned long long>(summary.bytes));
    std::printf("deletion lines: %llu, other special lines: %llu\n", static_cast<unsigned long long>(summary.deletions),
                static_cast<unsigned long long>(summary.specialLines));
    if (summary.subclientFiles != 0)
        std::printf("subclient files: %llu (missing: %llu)\n", static_cast<unsigned long long>(summary.subclientFiles),
                    static_cast<unsigned long long>(summary.subclientFilesMissing));
    if (summary.hardLinkNames != 0)
        std::printf("hard-linked names: %llu of %llu files (data counted once per file)\n",
                    static_cast<unsigned long long>(summary.hardLinkNames),
                    static_cast<unsigned long long>(summary.hardLinkFiles));
    const std::vector<CStreamLoad::SStream> dealt = CStreamLoad::Deal(summary.perFile, streams);
    for (size_t i = 0; i < dealt.size(); ++i) {
        std::string files;
        for (const std::string& name : dealt[i].files)
            files += (files.empty() ? "" : " ") + name;
        std::printf("stream %zu: items %llu, bytes %llu, collect files: %s\n", i + 1,
                    static_cast<unsigned long long>(dealt[i].items), static_cast<unsigned long long>(dealt[i].bytes),
                    files.c_str());
    }
    std::printf("unreadable: %llu (vanished since the scan: %llu)\n",
                static_cast<unsigned long long>(summary.unreadable), static_cast<unsigned long long>(summary.vanished));
    // Paths are printed escaped, so that each failure is one line whatever its name holds.
    for (const SItemFailure& failure : summary.failures)
        std::printf("  %s: %s (%s)\n", failure.vanished ? "vanished" : "unreadable",
                    escapeFileName(failure.path).c_str(), std::strerror(failure.error));
    if (summary.unreadable > summary.failures.size())
        std::printf("  ... and %llu more\n",
                    static_cast<unsigned long long>(summary.unreadable - summary.failures.size()));
}
}  // namespace

int main(int argc, char** argv)
{
    // Whatever mask the caller left, nothing the phase creates is writable by group or others.
    ::umask(::umask(022) | 022);
    CCommandLineArguments args(argc, argv);
    if (args.GetOption("h") || args.GetOption("-help")) {
        std::printf("%s%s%s", kUsageHead, kOptions.Help().c_str(), kUsageTail);
        return 0;
    }
    if (CKxError usage = kOptions.Check(args); usage.IsError())
        return Fail(kExitUsage, usage.Message() + " (fsbackup -h for help)");

    std::string instance, jobText, appId, typeText;
    if (!args.GetOption("vm", instance) || !args.GetOption("j", jobText) || !args.GetOption("a", appId) ||
        !args.GetOption("t", typeText))
        return Fail(kExitUsage, "-vm, -j, -a and -t are required (fsbackup -h for help)");
    long long jobId = 0;
    unsigned int backupType = 0;
    if (!ParseWhole(jobText, jobId) || jobId <= 0)
        return Fail(kExitUsage, "job id [" + jobText + "] is not a positive number");
    if (!ParseWhole(typeText, backupType))
        return Fail(kExitUsage, "backup type [" + typeText + "] is not a number");
    std::uint64_t orbundId = 0, appNumber = 0;
    if (CKxError parsed = ApplicationId::Parse(appId, orbundId, appNumber); parsed.IsError())
        return Fail(kExitUsage, parsed.OneLine());

    if (CKxError focused = ZVPI_Focus::setFocus(instance); focused.IsError())
        return Fail(kExitFailure, focused.OneLine());
    if (CKxError logOpened = ZVPI_Focus::openLog(); logOpened.IsError())
        std::fprintf(stderr, "fsbackup: log not opened: %s\n", logOpened.OneLine().c_str());
    EvEvent::CreateProcessContext("fsbackup");
    EvEvent::SetJobId(jobId);

    // Looked up, never created: a results folder that is not there means no scan ran.
    const std::string resultsFolder = FXPath::Append(
        CInstancePaths::JobResultsFolder(), std::to_string(orbundId) + "/" + std::to_string(appNumber));
    if (!FXFile::IsDirectory(resultsFolder))
        return Fail(kExitFailure, "results folder [" + resultsFolder + "] does not exist");
    FSLOG(0, "Backup phase of job %lld, backup type %u, results folder [%s]", jobId, backupType, resultsFolder.c_str());

    std::optional<std::uint64_t> stopAfter;
    if (std::string text; args.GetOption("stopAfter", text)) {
        std::uint64_t count = 0;
        if (!ParseWhole(text, count))
            return Fail(kExitUsage, "option -stopAfter value \"" + text + "\" is out of range");
        stopAfter = count;
    }
    std::string failPattern;
    if (ZVPlatformInfo::getString(kAgentSection, kFailPatternKey, failPattern) && !failPattern.empty())
        FSLOG(0, "Items matching [%s] fail as unreadable (setting %s)", failPattern.c_str(), kFailPatternKey);
    const std::string jobFolder = FXPath::Append(CInstancePaths::JobResultsFolder(), "jobs/" + std::to_string(jobId));

    CBackupPhase phase(resultsFolder, backupType);
    phase.SetOwedLists(failPattern, stopAfter, FXPath::Append(jobFolder, CProcessCommitFiles::kPendingCommitFile));
    phase.SetIndex(std::make_unique<CBackupIndexWriter>(
        CFileBackupIndex::SubclientFolder(CInstancePaths::IndexFolder(), orbundId, appNumber), jobId, backupType));
    CKxError read = phase.ReadCollectFiles();
    const SBackupPhaseSummary& summary = phase.Summary();
    // The streams the subclient asks for; without its configuration, one per collect file.
    std::uint32_t streams = 0;
    std::shared_ptr<Subclient> subclient = ApplicationId(orbundId, appNumber).getSubclient();
    if (!subclient || subclient->getNumStreams(streams).IsError())
        streams = 0;
    PrintSummary(jobId, backupType, resultsFolder, summary, static_cast<int>(streams));
    if (const CExtentCheck& extents = phase.Extents(); extents.Extents() != 0 || extents.Containers() != 0)
        std::printf("extents: %llu (files in extents: %llu), containers: %llu\n",
                    static_cast<unsigned long long>(extents.Extents()), static_cast<unsigned long long>(extents.Files()),
                    static_cast<unsigned long long>(extents.Containers()));

    // What the next scan reads goes on disk before the journal speaks: the lists of owed items
    // always (a failed phase's unreadable items are owed all the same), the record only when the
    // phase succeeded, so that a job manager reading the outcome after a crash finds what it
    // promises. Only a phase that took every item releases the failed items the scan fed back.
    CKxError owed = summary.interrupted ? FXFile::CreateDirectories(jobFolder, 0700) : CKxError::Success();
    if (owed.IsSuccess())
        owed = phase.CommitOwedLists();
    const bool completed = read.IsSuccess() && owed.IsSuccess() && !summary.interrupted;
    std::vector<std::string> moved;
    CKxError placed;
    if (completed)
        placed = phase.PutDirChangeInPlace(moved);
    // The index holds what the phase took, once its results are in place: after a phase that
    // completed and moved the record on, or one that stopped as asked and left what it owes.
    const bool interrupted = summary.interrupted && read.IsSuccess() && owed.IsSuccess();
    CKxError indexed;
    if ((completed && placed.IsSuccess()) || interrupted)
        indexed = phase.CommitIndex();
    CKxError released;
    if (completed && placed.IsSuccess() && indexed.IsSuccess())
        released = phase.ReleaseFedBackList();
    // The true-up the scan ran (or the full) is complete only once its backup phase is.
    bool trueUpMarked = false;
    CKxError trueUp;
    if (completed && placed.IsSuccess() && released.IsSuccess())
        trueUp = TrueUpCompletion::MarkIfAsked(jobId, resultsFolder, trueUpMarked);

    nlohmann::ordered_json record;
    record["call"] = "backupPhase";
    const bool succeeded =
        completed && placed.IsSuccess() && indexed.IsSuccess() && released.IsSuccess() && trueUp.IsSuccess();
    record["status"] = interrupted && indexed.IsSuccess() ? kStatusInterrupted
                       : succeeded                          ? kStatusSucceeded
                                                            : kStatusFailed;
    record["collectFiles"] = summary.collectFiles;
    record["items"] = summary.items;
    record["folders"] = summary.folders;
    record["bytes"] = summary.bytes;
    record["unreadable"] = summary.unreadable;
    if (summary.interrupted)
        record["owed"] = summary.owedLines;
    CKxError journaled = CJobJournal::Append(jobId, record.dump(), CJobJournal::EDurability::Synced);

    if (read.IsError()) {
        FSLOG_ERROR("Backup phase failed: %s", read.AsString().c_str());
        std::printf("phase: failed, the directory-change record stays as it was\n");
        return Fail(kExitFailure, "backup phase failed: " + read.OneLine());
    }
    if (owed.IsError()) {
        FSLOG_ERROR("Failed to leave the owed items for the next scan: %s", owed.AsString().c_str());
        return Fail(kExitFailure, "owed items not written: " + owed.OneLine());
    }
    if (placed.IsError()) {
        FSLOG_ERROR("Failed to put the directory-change record in place: %s", placed.AsString().c_str());
        return Fail(kExitFailure, "directory-change record not put in place: " + placed.OneLine());
    }
    if (indexed.IsError()) {
        FSLOG_ERROR("Failed to write the backup index: %s", indexed.AsString().c_str());
        return Fail(kExitFailure, "backup index not written: " + indexed.OneLine());
    }
    if (released.IsError()) {
        FSLOG_ERROR("Failed to release the failed-file list the scan fed back: %s", released.AsString().c_str());
        return Fail(kExitFailure, "failed-file list not released: " + released.OneLine());
    }
    if (trueUp.IsError()) {
        FSLOG_ERROR("Failed to mark the true-up complete: %s", trueUp.AsString().c_str());
        return Fail(kExitFailure, "true-up state not marked complete: " + trueUp.OneLine());
    }
    if (journaled.IsError()) {
        FSLOG_ERROR("%s", journaled.AsString().c_str());
        return Fail(kExitFailure, journaled.OneLine());
    }
    const auto printIndex = [&phase] {
        std::printf("backup index: %s (%zu lines)\n", phase.Index()->Path().c_str(), phase.Index()->Lines());
    };
    if (summary.interrupted) {
        std::printf("phase: interrupted after %llu files, %llu lines owed to the next job in %s\n",
                    static_cast<unsigned long long>(*stopAfter), static_cast<unsigned long long>(summary.owedLines),
                    FXPath::Append(jobFolder, CProcessCommitFiles::kPendingCommitFile).c_str());
        FSLOG(0, "Backup phase interrupted after %llu files; %llu lines owed", static_cast<unsigned long long>(*stopAfter),
              static_cast<unsigned long long>(summary.owedLines));
        printIndex();
        return 0;
    }
    std::printf("phase: succeeded\n");
    if (trueUpMarked)
        std::printf("true-up: marked complete\n");
    if (moved.empty())
        std::printf("directory-change record: none to put in place\n");
    for (const std::string& move : moved) {
        std::printf("directory-change record: %s\n", move.c_str());
        FSLOG(0, "Directory-change record put in place: %s", move.c_str());
    }
    printIndex();
    return 0;
}
