#!/usr/bin/env bash
# The full job with hard links handled against the same job without, on the bench tree with a
# share of its files given a second name; then fsweep's peak memory on the large tree so linked.
#
#   bench/hardlinks_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS] [--large FILES | --no-large]
#
# BUILD, WORKDIR, RUNS, --large as for full_job.sh. The linked trees ("tree200k-hl",
# "tree1000k-hl") are made once from the same seed as full_job.sh's trees, every 50th file
# (2%) getting a second name "<name>.hl" in its folder, and kept.
#
# Prints
#   hardlinks_job files=N names=M off_seconds=S on_seconds=S ratio_median=R ratio_runs=R...
#   hardlinks_job_large files=N seconds=S peak_rss_kib=K
# The two jobs run in turns (off, on) so that the machine's drift hits both alike; the ratio is
# the median of the paired ratios (on / off).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build-job 16 "$@"
need_tools "$bench/make_tree" "$fsweep"

linked_tree() {  # FILES DIR
    [ -d "$2" ] && return 0
    "$bench/make_tree" --files "$1" --seed 1 "$2.part" >&2
    find "$2.part" -type f | awk 'NR % 50 == 0' | while IFS= read -r file; do ln "$file" "$file.hl"; done
    mv "$2.part" "$2"
}

job() {  # HLINK(Y|N); prints "seconds peak_rss_kib"
    echo "nLogLevel 0" >"$work/root/inst/registry/FileSystemAgent"
    echo "HLINK $1" >>"$work/root/inst/registry/FileSystemAgent"
    full_job
}

tree=$work/tree200k-hl
linked_tree 200000 "$tree"
instance "$tree"
job N >/dev/null  # warm
off=() on=() paired=()
for ((i = 0; i < runs; i++)); do
    sync
    read -r seconds rss < <(job N)
    off+=("$seconds")
    sync
    read -r seconds rss < <(job Y)
    on+=("$seconds")
    paired+=("$(awk -v a="$seconds" -v b="${off[i]}" 'BEGIN { printf "%.3f", a / b }')")
done
names=$(cat "$work/root/inst/JobResults/2/5/"CollectTot*.zvf | grep -c '^# [0-9]' || true)
echo "hardlinks_job files=200000 names=$names off_seconds=$(best "${off[@]}") on_seconds=$(best "${on[@]}")" \
     "ratio_median=$(median "${paired[@]}") ratio_runs=${paired[*]}"

if [ "$large" -gt 0 ]; then
    big=$work/tree$((large / 1000))k-hl
    linked_tree "$large" "$big"
    instance "$big"
    job Y >/dev/null  # warm
    read -r seconds rss < <(job Y)
    echo "hardlinks_job_large files=$large seconds=$seconds peak_rss_kib=$rss"
fi
