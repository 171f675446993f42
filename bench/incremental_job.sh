#!/usr/bin/env bash
# incremental_job.sh: our incremental job against our full job and GNU tar's incremental scan,
# side by side on one tree after the same changes, warm cache, 2 threads; then the peak memory
# of an incremental on a large tree.
#
#   bench/incremental_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS] [--large FILES | --no-large]
#
# BUILD     build folder with make_tree, fsweep and fsbackup (default build)
# WORKDIR   scratch folder (default /tmp/fsweep-bench); the changed trees are made anew each run
# RUNS      runs of each program, best time kept (default 5)
# --large   file count of the memory tree (default 1000000); --no-large skips it
#
# The tree (bench/make_tree, seed 1) is copied, backed up by a full job (fsweep, then fsbackup,
# which puts the record in place) and by tar's level 0 (`tar --listed-incremental`, archive to
# /dev/null, so tar reads no file data); then 1% of its files are modified, 0.1% added and 0.1%
# deleted. Measured on the changed tree, in turns: our incremental (-ref of the full), our full,
# tar's level 1 (from a copy of the level-0 snapshot file). Prints
#   incremental_job files=N changed=C added=A deleted=D incr_seconds=S full_seconds=S tar_seconds=S
#       ratio_full=R ratio_tar=R incr_items=I incr_deleted=D incr_peak_rss_kib=K
#   incremental_job_large files=N seconds=S peak_rss_kib=K selected=I deleted=D
# Each program is timed as a whole process, start to exit (common.sh's timed).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build 21 "$@"
fsbackup=$build/src/fsbackup
need_tools "$bench/make_tree" "$fsweep" "$fsbackup"
command -v tar >/dev/null || { echo "incremental_job.sh: GNU tar is needed" >&2; exit 2; }

collect_lines() {  # prints "items deletions" of the current results folder's incremental collect files
    cat "$work/root/inst/JobResults/2/5/"CollectInc*.zvf 2>/dev/null |
        awk '/^\?\?/ {d++; next} {i++} END {print i+0, d+0}'
}

# Prepares DIR (a fresh copy of the seed tree of FILES files), runs and backs up the full job
# and tar's level 0, then changes the tree. Prints "changed added deleted".
prepare() {  # FILES DIR
    backed_up_copy "$1" "$2"
    rm -f "$work/level0.snar"
    tar --listed-incremental="$work/level0.snar" -cf /dev/null -C "$(dirname "$2")" "$(basename "$2")"
    sleep 1
    change_tree "$2"
    sleep 1  # changes lie before the incremental's own start second
}

tree=$work/inc200k
read -r changed added deleted < <(prepare 200000 "$tree")
ref=$(reference_of 1)
files=$(find "$tree" -type f | wc -l)

tar_incremental() {
    cp "$work/level0.snar" "$work/level1.snar"
    local seconds rss
    read -r seconds rss < <(timed /dev/null \
        tar --listed-incremental="$work/level1.snar" -cf /dev/null -C "$(dirname "$tree")" "$(basename "$tree")")
    echo "$seconds"
}

# Warm the cache, then the three in turns so that a busy moment of the machine hits them alike.
scan 2 2 "$ref" >/dev/null
tar_incremental >/dev/null
incr=() full=() tars=()
for ((i = 0; i < runs; i++)); do
    read -r seconds rss < <(scan 2 2 "$ref")
    incr+=("$seconds")
    read -r items dels < <(collect_lines)
    incr_rss=$rss
    read -r seconds rss < <(scan 3 1)
    full+=("$seconds")
    tars+=("$(tar_incremental)")
done
incr_best=$(best "${incr[@]}")
full_best=$(best "${full[@]}")
tar_best=$(best "${tars[@]}")
awk -v f="$files" -v c="$changed" -v a="$added" -v d="$deleted" -v i="$incr_best" -v u="$full_best" -v t="$tar_best" \
    -v n="$items" -v x="$dels" -v m="$incr_rss" 'BEGIN {
    printf "incremental_job files=%d changed=%d added=%d deleted=%d incr_seconds=%s full_seconds=%s tar_seconds=%s ratio_full=%.2f ratio_tar=%.2f incr_items=%d incr_deleted=%d incr_peak_rss_kib=%d\n",
           f, c, a, d, i, u, t, i / u, i / t, n, x, m }'
echo "runs incr=${incr[*]} full=${full[*]} tar=${tars[*]}"

if [ "$large" -gt 0 ]; then
    big=$work/inc$((large / 1000))k
    prepare "$large" "$big" >/dev/null
    ref=$(reference_of 1)
    scan 2 2 "$ref" >/dev/null  # warm
    read -r seconds rss < <(scan 2 2 "$ref")
    read -r items dels < <(collect_lines)
    echo "incremental_job_large files=$large seconds=$seconds peak_rss_kib=$rss selected=$items deleted=$dels"
fi
