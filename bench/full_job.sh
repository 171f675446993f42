#!/usr/bin/env bash
# full_job.sh: a full backup job through fsweep against the floor walker and the engine-only walk,
# side by side on one tree, warm cache, 2 threads; then fsweep's peak memory on a large tree.
#
#   bench/full_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS] [--large FILES | --no-large]
#
# BUILD     build folder with make_tree, floor_walker, engine_walk and fsweep (default build-job)
# WORKDIR   where the trees and the scratch instance live (default /tmp/fsweep-bench); trees are
#           made once (bench/make_tree, seed 1) and kept for the next run
# RUNS      runs of each program, best time kept (default 5)
# --large   file count of the memory tree (default 1000000); --no-large skips it
#
# Prints one record per program (the walk benchmarks' fields: bench/README.md), then
#   full_job ratio_floor=R ratio_engine=R fsweep_seconds=S floor_seconds=S engine_seconds=S
#   full_job_walks floor_walk_seconds=S engine_walk_seconds=S
#   full_job_paired ratio_engine_median=R ratio_engine_runs=R...
#   full_job_large files=N items=I seconds=S peak_rss_kib=K
# All three programs are timed alike, as whole processes from start to exit (common.sh's
# timed): the job's configuration, walk, clean-up (the split rewrites the collect file) and
# report, against the walkers' start, walk, output and exit. full_job_walks gives the walkers'
# own walk timers (their records' seconds), which leave out their start and exit.
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build-job 21 "$@"
need_tools "$bench/make_tree" "$bench/floor_walker" "$bench/engine_walk" "$fsweep"

# Runs walker PROGRAM; prints "seconds" of its process and leaves its record in $work/PROGRAM.rec.
walker() {  # PROGRAM
    local seconds rss
    read -r seconds rss < <(timed "$work/$1.rec" "$bench/$1" -t 2 -o "$work/$1.out" "$tree") ||
        { echo "full_job.sh: $1 failed" >&2; exit 1; }
    echo "$seconds"
}

tree=$work/tree200k
make_tree 200000 "$tree"
instance "$tree"

# Warm the cache, then run the three programs in turns so that a busy moment of the machine
# hits them all alike.
"$bench/floor_walker" -t 2 -o "$work/floor_walker.out" "$tree" >/dev/null
full_job >/dev/null
floor=() engine=() full=() floor_walk=() engine_walk=()
for ((i = 0; i < runs; i++)); do
    # Each program starts with nothing of the previous one's output still to be written out:
    # the disk work that one's 30 MB would start would otherwise land in the next one's time.
    sync
    floor+=("$(walker floor_walker)")
    floor_record=$(tail -n 1 "$work/floor_walker.rec")
    floor_walk+=("$(field "$floor_record" seconds)")
    sync
    engine+=("$(walker engine_walk)")
    engine_record=$(tail -n 1 "$work/engine_walk.rec")
    engine_walk+=("$(field "$engine_record" seconds)")
    sync
    read -r seconds rss < <(full_job)
    full+=("$seconds")
done
floor_best=$(best "${floor[@]}")
engine_best=$(best "${engine[@]}")
full_best=$(best "${full[@]}")
echo "$floor_record"
echo "$engine_record"
echo "fsweep_full_job tree=$tree threads=2 seconds=$full_best peak_rss_kib=$rss runs=${full[*]}"
awk -v f="$full_best" -v a="$floor_best" -v e="$engine_best" 'BEGIN {
    printf "full_job ratio_floor=%.2f ratio_engine=%.2f fsweep_seconds=%s floor_seconds=%s engine_seconds=%s\n",
           f / a, f / e, f, a, e }'
echo "full_job_walks floor_walk_seconds=$(best "${floor_walk[@]}") engine_walk_seconds=$(best "${engine_walk[@]}")"
# The machine's speed drifts over seconds: the job against the engine run just before it, the
# median of those ratios, is steadier than the ratio of two independent bests.
paired=()
for ((i = 0; i < runs; i++)); do
    paired+=("$(awk -v f="${full[i]}" -v e="${engine[i]}" 'BEGIN { printf "%.3f", f / e }')")
done
echo "full_job_paired ratio_engine_median=$(median "${paired[@]}") ratio_engine_runs=${paired[*]}"
rm -f "$work/floor_walker.out" "$work/engine_walk.out" "$work/floor_walker.rec" "$work/engine_walk.rec"

if [ "$large" -gt 0 ]; then
    big=$work/tree$((large / 1000))k
    make_tree "$large" "$big"
    instance "$big"
    full_job >/dev/null  # warm
    read -r seconds rss < <(full_job)
    lines=$(cat "$work/root/inst/JobResults/2/5/"CollectTot*.zvf | wc -l)
    echo "full_job_large files=$large items=$lines seconds=$seconds peak_rss_kib=$rss"
fi
