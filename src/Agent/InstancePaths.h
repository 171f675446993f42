#pragma once
// CInstancePaths: where the agent keeps everything of the instance the process is focused on.
//
//   $FSWEEP_ROOT/<instance>/            (FSWEEP_ROOT defaults to /var/opt/fsweep)
//       registry/<Section>             agent settings, one file per section
//       config/apps/<o>:<a>.json       application configuration
//       JobResults/                    results folders (per subclient and per job)
//       JobManager/<jobId>.jsonl       job-manager journal, <jobId>.quit quit flag
//       Log_Files/fsweep.log           log writer's file
//       tmp/                           the agent's temporary folder
//       run/<name>                     service-monitor check-ins
//       Index/<o>_<a>/<jobId>.idx      backup index: what each backup phase took
//       Snapshots/<jobId>.json         snapshot manager: the snapshots of a catalog job
//
// Every folder getter answers from the focus set by ZVPI_Focus::setFocus; without a focus it
// returns "" (callers that need a folder must fail on an empty answer).
//
// Thread: all members may be called from any thread.
#include <string>

class CInstancePaths {
public:
    // $FSWEEP_ROOT, or /var/opt/fsweep when the variable is unset or empty.
    static std::string Root();
    // Root()/<instance> for the focused instance, "" without a focus.
    static std::string InstanceFolder();
    static std::string RegistryFolder();
    static std::string AppsConfigFolder();
    static std::string JobResultsFolder();
    static std::string JobManagerFolder();
    static std::string LogFilesFolder();
    static std::string TmpFolder();
    static std::string RunFolder();
    static std::string IndexFolder();
    static std::string SnapshotsFolder();
};
