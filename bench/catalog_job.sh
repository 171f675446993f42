#!/usr/bin/env bash
# catalog_job.sh: the catalog of a snapshot against a full job of the same tree, warm cache, 2
# threads.
#
#   bench/catalog_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS]
#
# The tree (bench/make_tree, 200,000 files, seed 1) stands as the snapshot of an empty source
# folder: the catalog (job 2 of subclient 2:6, -snap -snapRefTime, Snapshots/2.json pointing the
# source at the tree) walks the tree and records the source's paths; the full job (job 1 of
# subclient 2:5) walks the tree itself. Measured in turns. Prints
#   catalog_job files=200000 full_seconds=S catalog_seconds=S ratio_median=R ratio_runs=R...
#       catalog_peak_rss_kib=K
# (ratio: catalog / full, the median of the pairs).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build 14 "$@"
need_tools "$bench/make_tree" "$fsweep"

tree=$work/seed200k
source_folder=$work/catalog-source
make_tree 200000 "$tree"
mkdir -p "$source_folder"
instance "$tree"
sed "s|\"content\": \[[^]]*\]|\"content\": [\"$source_folder\"]|" \
    "$work/root/inst/config/apps/2:5.json" >"$work/root/inst/config/apps/2:6.json"
mkdir -p "$work/root/inst/Snapshots"
echo "{\"volumes\": [{\"source\": \"$source_folder\", \"snapshot\": \"$tree\", \"archiveId\": 1, \"mounted\": true}]}" \
    >"$work/root/inst/Snapshots/2.json"

catalog_job() {  # prints "seconds peak_rss_kib"
    FSWEEP_ROOT=$work/root timed /dev/null "$fsweep" -vm inst -j 2 -a 2:6 -cn bench -jt bench -t 1 \
        -snap -snapRefTime 1700000000 -depotnode bench 2>"$work/fsweep.err" ||
        { echo "catalog_job.sh: fsweep failed:" >&2; cat "$work/fsweep.err" >&2; exit 1; }
    grep -q '"call":"complete","status":1' "$work/root/inst/JobManager/2.jsonl" ||
        { echo "catalog_job.sh: the catalog did not complete; see $work/root/inst" >&2; exit 1; }
    rm -f "$work/root/inst/JobManager/2.jsonl"
}

full_job >/dev/null  # warm
catalog_job >/dev/null
full=() catalog=() paired=()
for ((i = 0; i < runs; i++)); do
    read -r seconds rss < <(full_job)
    full+=("$seconds")
    read -r seconds rss < <(catalog_job)
    catalog+=("$seconds")
    catalog_rss=$rss
    paired+=("$(awk -v a="$seconds" -v b="${full[i]}" 'BEGIN { printf "%.3f", a / b }')")
done
echo "catalog_job files=200000 full_seconds=$(best "${full[@]}") catalog_seconds=$(best "${catalog[@]}")" \
     "ratio_median=$(median "${paired[@]}") ratio_runs=${paired[*]} catalog_peak_rss_kib=$catalog_rss"
