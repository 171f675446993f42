#!/usr/bin/env bash
# trueup_job.sh: an incremental job that runs a true-up against the same incremental without one,
# on one tree after the same changes, warm cache, 2 threads; then the true-up's peak memory on a
# large tree.
#
#   bench/trueup_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS] [--large FILES | --no-large]
#
# BUILD, WORKDIR, RUNS, --large as for incremental_job.sh. The tree (bench/make_tree, seed 1) is
# copied, backed up by a full job and fsbackup (which puts the record in place and writes the
# job's backup index), then changed as incremental_job.sh changes it. Measured in turns: the
# incremental (-ref of the full) and the same incremental forced to run a true-up (-TrueUp).
# Prints
#   trueup_job files=N incr_seconds=S trueup_seconds=S ratio_median=R ratio_runs=R...
#       trueup_peak_rss_kib=K
#   trueup_job_large files=N seconds=S peak_rss_kib=K
# (ratio: true-up / plain, the median of the pairs).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build 19 "$@"
fsbackup=$build/src/fsbackup
need_tools "$bench/make_tree" "$fsweep" "$fsbackup"

prepare() {  # FILES DIR
    backed_up_copy "$1" "$2"
    sleep 1
    change_tree "$2" >/dev/null
    sleep 1  # changes lie before the incremental's own start second
}

tree=$work/trueup200k
prepare 200000 "$tree"
ref=$(reference_of 1)
scan 2 2 "$ref" >/dev/null  # warm
scan 3 2 "$ref" -TrueUp >/dev/null
plain=() trueup=() paired=()
for ((i = 0; i < runs; i++)); do
    read -r seconds rss < <(scan 2 2 "$ref")
    plain+=("$seconds")
    read -r seconds rss < <(scan 3 2 "$ref" -TrueUp)
    trueup+=("$seconds")
    trueup_rss=$rss
    paired+=("$(awk -v a="$seconds" -v b="${plain[i]}" 'BEGIN { printf "%.3f", a / b }')")
done
echo "trueup_job files=200000 incr_seconds=$(best "${plain[@]}") trueup_seconds=$(best "${trueup[@]}")" \
     "ratio_median=$(median "${paired[@]}") ratio_runs=${paired[*]} trueup_peak_rss_kib=$trueup_rss"

if [ "$large" -gt 0 ]; then
    big=$work/trueup$((large / 1000))k
    prepare "$large" "$big"
    ref=$(reference_of 1)
    scan 3 2 "$ref" -TrueUp >/dev/null  # warm
    read -r seconds rss < <(scan 3 2 "$ref" -TrueUp)
    echo "trueup_job_large files=$large seconds=$seconds peak_rss_kib=$rss"
fi
