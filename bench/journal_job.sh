#!/usr/bin/env bash
# journal_job.sh: the incremental that reads the change journal against the incremental that walks,
# on twin instances over one tree after the same change, warm cache, 2 threads; their peak memory.
# (What the daemon itself costs while files are written: bench/journal_daemon.sh.)
#
#   bench/journal_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS] [--large FILES | --no-large]
#
# BUILD     build folder with make_tree, fsweep, fsbackup and fsjournald (default build)
# WORKDIR   scratch folder (default /tmp/fsweep-bench); the changed tree is made anew each run
# RUNS      runs of each incremental, in turns (default 5)
# --large   files of the tree (default 1000000); --no-large: 200000, a quick run
#
# Runs as root (the daemon needs fanotify). The tree (bench/make_tree, seed 1) is copied and
# backed up by a full job and fsbackup in two instances, "journal" (subclient key changeJournal,
# its daemon running) and "walk"; then an incremental of both, so that the journal instance holds
# a journal point; then 1% of the folders (every 100th, in path order) get every file of theirs
# modified, about 1% of the files. Measured in turns on the changed tree: the journal incremental
# and the walking incremental, each against its own previous job. Prints
#   journal_job files=N folders=F changed_folders=G changed_files=C journal_seconds=S
#       walk_seconds=S ratio=R journal_peak_rss_kib=K walk_peak_rss_kib=K journal_selected=I
#       walk_selected=I read_folders=D
# (seconds: the best run; ratio: journal / walk, the median of the pairs; peaks: the largest run).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build 22 "$@"
fsbackup=$build/src/fsbackup
fsjournald=$build/src/fsjournald
need_tools "$bench/make_tree" "$fsweep" "$fsbackup" "$fsjournald"
[ "$(id -u)" = 0 ] || { echo "journal_job.sh: the journal daemon needs root" >&2; exit 2; }
files=$large
[ "$files" -gt 0 ] || files=200000
base=$work
tree=$base/journal$((files / 1000))k
daemon=

use() {  # journal|walk: common.sh's helpers work in $work/root/inst
    work=$base/$1
}

stop_daemon() {
    [ -n "$daemon" ] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
    daemon=
}
trap stop_daemon EXIT

start_daemon() {  # on the journal instance; waits for its marks
    use journal
    FSWEEP_ROOT=$work/root "$fsjournald" -vm inst >"$work/fsjournald.out" 2>"$work/fsjournald.err" &
    daemon=$!
    local waited
    for ((waited = 0; waited < 300; waited++)); do
        grep -q '^fsjournald: ready$' "$work/fsjournald.out" && return 0
        kill -0 "$daemon" 2>/dev/null || break
        sleep 0.1
    done
    echo "journal_job.sh: fsjournald did not get ready:" >&2
    cat "$work/fsjournald.err" >&2
    exit 1
}

collect_lines() {  # content items of the current instance's incremental collect files
    cat "$work/root/inst/JobResults/2/5/"CollectInc*.zvf 2>/dev/null | awk '!/^(\?\?|%SCFILES%)/ {i++} END {print i+0}'
}

journal_line() {  # how the current instance's last job found its changes: its "reading" or "walking" line
    grep -ao 'Change journal: \(reading\|walking\) .*' "$work/root/inst/Log_Files/fsweep.log" | tail -n 1
}

backup() {  # JOB TYPE
    FSWEEP_ROOT=$work/root "$fsbackup" -vm inst -j "$1" -a 2:5 -t "$2" >/dev/null
}

# Every file directly in every 100th folder (path order) gets one more byte. Prints
# "changed_folders changed_files".
change_folders() {  # TREE
    find "$1" -type d -print | LC_ALL=C sort | awk 'NR % 100 == 0' >"$base/changed-folders.txt"
    local folder count=0
    while IFS= read -r folder; do
        while IFS= read -r -d '' f; do
            printf 'x' >>"$f"
            count=$((count + 1))
        done < <(find "$folder" -maxdepth 1 -type f -print0)
    done <"$base/changed-folders.txt"
    echo "$(wc -l <"$base/changed-folders.txt") $count"
}

# A fresh copy of the seed tree, both instances, the daemon, the full jobs and a first incremental.
work=$base
make_tree "$files" "$base/seed$((files / 1000))k"
rm -rf "$tree"
mkdir "$tree"
cp -a "$base/seed$((files / 1000))k/." "$tree/"
for kind in journal walk; do
    use "$kind"
    mkdir -p "$work"
    instance "$tree"
done
use journal
sed -i 's/"folderLevelThreads": 2/&, "changeJournal": true/' "$work/root/inst/config/apps/2:5.json"
start_daemon
sleep 1  # the copy's change times lie before the full jobs' reference second
for kind in journal walk; do
    use "$kind"
    scan 1 1 >/dev/null
    backup 1 1
done
sleep 1
for kind in journal walk; do
    use "$kind"
    scan 2 2 "$(reference_of 1)" >/dev/null
    backup 2 2
done
sleep 1
read -r changed_folders changed_files < <(change_folders "$tree")
sleep 1  # changes lie before the incrementals' own start second

use journal; journal_ref=$(reference_of 2)
# Each run stores a point for the record it writes, and the file keeps only the newest few: saved
# here and put back before each run, every run finds the point of job 2's record as the first did.
points=$work/root/inst/JobResults/2/5/ChangeJournalPoints
cp -p "$points" "$base/points.saved"
use walk; walk_ref=$(reference_of 2)
journal=() walk=() pairs=()
jpeak=0 wpeak=0
for ((i = 0; i <= runs; i++)); do  # run 0 warms the cache
    use journal
    cp -p "$base/points.saved" "$points"
    read -r js jrss < <(scan 3 2 "$journal_ref")
    use walk
    read -r ws wrss < <(scan 3 2 "$walk_ref")
    [ "$i" -eq 0 ] && continue
    jpeak=$((jrss > jpeak ? jrss : jpeak)) wpeak=$((wrss > wpeak ? wrss : wpeak))
    journal+=("$js") walk+=("$ws")
    pairs+=("$(awk -v j="$js" -v w="$ws" 'BEGIN { printf "%.4f", j / w }')")
done
use journal
journal_selected=$(collect_lines)
line=$(journal_line)
case "$line" in
"Change journal: reading "*) read_folders=$(awk '{print $4}' <<<"$line") ;;
*) echo "journal_job.sh: the journal instance did not read the journal: $line" >&2; exit 1 ;;
esac
use walk
walk_selected=$(collect_lines)
folders=$(find "$tree" -type d | wc -l)
echo "journal_job files=$files folders=$folders changed_folders=$changed_folders changed_files=$changed_files" \
    "journal_seconds=$(best "${journal[@]}") walk_seconds=$(best "${walk[@]}") ratio=$(median "${pairs[@]}")" \
    "journal_peak_rss_kib=$jpeak walk_peak_rss_kib=$wpeak journal_selected=$journal_selected" \
    "walk_selected=$walk_selected read_folders=$read_folders"
echo "runs journal=${journal[*]} walk=${walk[*]} ratios=${pairs[*]}"
