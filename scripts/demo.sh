#!/usr/bin/env bash
# Runs backup jobs on a scratch agent instance: a full scan of a real folder with fsweep, the
# backup phase after it with fsbackup, then an incremental job against the full one.
#
#   scripts/demo.sh [folder]
#
# The instance lives in ./scratch/demo (FSWEEP_ROOT=./scratch); its subclient backs up
# `folder` (default /usr/share/doc, or the repository's src/ when that does not exist).
# Builds fsweep and fsbackup into ./build (or $FSWEEP_BUILD_DIR) when they are not there yet.
# Prints each scan's summary and job-manager journal and the backup phase's summary; on a
# terminal fsweep also shows its progress while it walks.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

content="${1:-}"
if [[ -z "$content" ]]; then
    if [[ -d /usr/share/doc ]]; then content=/usr/share/doc; else content="$repo/src"; fi
fi
if [[ ! -d "$content" ]]; then
    echo "demo: $content is not a folder" >&2
    exit 1
fi
content="$(cd "$content" && pwd)"

build="${FSWEEP_BUILD_DIR:-$repo/build}"
fsweep="$build/src/fsweep"
fsbackup="$build/src/fsbackup"
if [[ ! -x "$fsweep" || ! -x "$fsbackup" ]]; then
    generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    cmake -S "$repo" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target fsweep fsbackup
fi

export FSWEEP_ROOT="$repo/scratch"
instance="$FSWEEP_ROOT/demo"
rm -rf "$instance"
mkdir -p "$instance/registry" "$instance/config/apps"
printf 'nLogLevel 0\n' > "$instance/registry/FileSystemAgent"
printf 'sJobManagerHost localhost\n' > "$instance/registry/GlobalParams"
# JSON string escaping of the content path: backslashes and double quotes.
escaped="${content//\\/\\\\}"
escaped="${escaped//\"/\\\"}"
cat > "$instance/config/apps/2:5.json" <<JSON
{
  "appType": 29,
  "indexV2": true,
  "client":    { "id": 2, "name": "demo-client", "laptop": false },
  "backupSet": { "name": "defaultBackupSet", "default": true },
  "subclient": {
    "id": 5, "name": "demo", "default": false,
    "content": ["$escaped"],
    "filters": [], "filterExceptions": [], "fileNameContent": [], "fileNameFilters": [],
    "otherSubclientsContent": [],
    "numStreams": 1, "folderLevelThreads": 0,
    "useMtime": true, "useCtime": true
  }
}
JSON

run_job() {  # job id, then the backup-type options
    local job="$1"
    shift
    echo "== job $job: fsweep -vm demo -j $job -a 2:5 -cn demo-client -jt token$job $*"
    local status=0
    "$fsweep" -vm demo -j "$job" -a 2:5 -cn demo-client -jt "token$job" "$@" >/dev/null || status=$?
    echo "   exit status $status"
    # The scan's summary line, also in the log when standard error is not a terminal.
    grep -a "CScanJobFileSystem::PrintSummary" "$instance/Log_Files/fsweep.log" | tail -n 1 |
        sed 's/.*PrintSummary():[0-9]* /   /' || true
    echo "   job-manager journal ($instance/JobManager/$job.jsonl):"
    sed 's/^/   /' "$instance/JobManager/$job.jsonl" 2>/dev/null || echo "   (none)"
    return "$status"
}

run_backup() {  # job id, backup type
    echo "== job $1: fsbackup -vm demo -j $1 -a 2:5 -t $2"
    local status=0
    "$fsbackup" -vm demo -j "$1" -a 2:5 -t "$2" | sed 's/^/   /' || status=$?
    echo "   exit status $status"
    return "$status"
}

echo "content: $content"
run_job 1 -t 1
run_backup 1 1
# The next job's reference time is the full job's scan start time, which it passed on as "-r".
ref="$(grep -o '"params":"[^"]*' "$instance/JobManager/1.jsonl" | grep -o -- '-r [0-9]*' | tail -1 | cut -d' ' -f2)"
run_job 2 -t 2 -ref "${ref:-0}"
run_backup 2 2
echo "instance folder: $instance (log: $instance/Log_Files/fsweep.log)"
