#!/usr/bin/env bash
# Builds the Debian package from a finished build, unpacks it into a scratch root the way dpkg
# installs it, and runs what it installed: help, version, the man pages (rendered without a
# warning), and a full scan of a small folder in a scratch instance with its backup phase.
#
#   tests/install/deb_check.sh <build folder>
set -euo pipefail
build="$(cd "$1" && pwd)"
scratch="$(mktemp -d /tmp/fsweep-deb.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deb_check: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb="$(ls "$scratch"/pkg/fsweep_*.deb)"
# grep reads all: with pipefail, a grep that stops early fails the writer with SIGPIPE.
dpkg-deb -f "$deb" Depends | grep libstdc++ >/dev/null || fail "Depends was not worked out"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
fsweep="$root/usr/sbin/fsweep"
fsbackup="$root/usr/sbin/fsbackup"
ldd "$fsweep" | grep "libFileScan.so => $root/usr/" >/dev/null || fail "fsweep does not load the installed library"

"$fsweep" --version | grep -Ex 'fsweep [0-9]+\.[0-9.]+' >/dev/null || fail "fsweep --version"
"$fsweep" -h | grep -- '-vm <instance>' >/dev/null || fail "fsweep -h"
"$fsbackup" -h | grep -- '-stopAfter' >/dev/null || fail "fsbackup -h"
"$root/usr/sbin/fsjournald" -h | grep -- '-vm <instance>' >/dev/null || fail "fsjournald -h"
grep -x "ExecStart=fsjournald -vm %i" "$root/usr/lib/systemd/system/fsjournald@.service" >/dev/null ||
    fail "the fsjournald unit is not installed"
for page in man8/fsweep.8 man8/fsbackup.8 man8/fsjournald.8 man5/fsweep-instance.5; do
    file="$root/usr/share/man/$page"
    [[ -f "$file" ]] || fail "$page not installed"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)"
    [[ -z "$warnings" ]] || fail "$page: $warnings"
done
[[ -f "$root/usr/share/doc/fsweep/README.md" ]] || fail "README.md not installed"

content="$scratch/data"
mkdir -p "$content/sub"
printf 'one\n' >"$content/a.txt"
printf 'two\n' >"$content/sub/b.txt"
export FSWEEP_ROOT="$scratch/var"
instance="$FSWEEP_ROOT/inst"
mkdir -p "$instance/registry" "$instance/config/apps"
cat >"$instance/config/apps/2:5.json" <<JSON
{ "appType": 29, "indexV2": true,
  "client": { "id": 2, "name": "c1", "laptop": false },
  "backupSet": { "name": "defaultBackupSet", "default": true },
  "subclient": { "id": 5, "name": "sc1", "default": false, "content": ["$content"],
                 "filters": [], "filterExceptions": [], "fileNameContent": [], "fileNameFilters": [],
                 "otherSubclientsContent": [], "numStreams": 1, "folderLevelThreads": 0,
                 "useMtime": true, "useCtime": true } }
JSON
"$fsweep" -vm inst -j 1 -a 2:5 -cn c1 -jt t1 -t 1 >"$scratch/scan.out" 2>&1 || { cat "$scratch/scan.out" >&2; fail "scan failed"; }
grep -q '"call":"complete","status":1' "$instance/JobManager/1.jsonl" ||
    fail "scan did not complete: $(cat "$instance/JobManager/1.jsonl")"
grep -rqs "sub/b.txt" "$instance/JobResults/2/5" || fail "no collect file lists sub/b.txt"
"$fsbackup" -vm inst -j 1 -a 2:5 -t 1 >"$scratch/backup.out" || fail "backup phase failed"
echo "deb_check: $(basename "$deb") installs and scans"
