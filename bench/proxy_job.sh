#!/usr/bin/env bash
# proxy_job.sh: a full job through the proxy (fsweep, the proxy plug-in and fsproxyclient on this
# host) against a local full job of the same tree, paired, warm cache.
#
#   bench/proxy_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS]
#
# BUILD     build folder with make_tree, fsweep, fsproxyclient and libClProxy.so (default build-job)
# WORKDIR   where the tree and the scratch instance live (default /tmp/fsweep-bench)
# RUNS      pairs of runs (default 5)
#
# Prints
#   proxy_job tree=T items_local=I items_proxy=I local_seconds=S proxy_seconds=S rate_ratio_median=R rate_ratio_runs=R...
# rate_ratio is the proxy job's items per second over the local job's, each pair run back to
# back (the proxy lists the items below the content root, the local job the root and its
# ancestors too: the rates, not the times, are compared).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build-job 15 "$@"
need_tools "$bench/make_tree" "$fsweep" "$build/src/fsproxyclient" "$build/src/libClProxy.so"

tree=$work/tree100k
make_tree 100000 "$tree"
instance "$tree"
cat >"$work/root/inst/config/apps/2:6.json" <<JSON
{"appType": 38, "indexV2": true, "client": {"id": 3, "name": "bench-proxy", "proxyClientId": 1},
 "backupSet": {"name": "defaultBackupSet", "default": true},
 "subclient": {"id": 6, "name": "bench-proxy", "proxy": {"host": "127.0.0.1", "root": "$tree"}}}
JSON

job() {  # APP JOB: prints "seconds items"
    local seconds rss
    read -r seconds rss < <(FSWEEP_ROOT=$work/root timed /dev/null \
        "$fsweep" -vm inst -j "$2" -a "2:$1" -cn bench -jt bench -t 1 2>"$work/fsweep.err") ||
        { echo "proxy_job.sh: fsweep failed:" >&2; cat "$work/fsweep.err" >&2; exit 1; }
    grep -q '"call":"complete","status":1' "$work/root/inst/JobManager/$2.jsonl" ||
        { echo "proxy_job.sh: job $2 did not complete; see $work/root/inst" >&2; exit 1; }
    rm -f "$work/root/inst/JobManager/$2.jsonl"
    echo "$seconds $(cat "$work/root/inst/JobResults/2/$1/"CollectTot*.zvf | grep -vc '^%')"
}

job 5 1 >/dev/null  # warm
job 6 2 >/dev/null
local_runs=() proxy_runs=() ratios=()
for ((i = 0; i < runs; i++)); do
    sync
    read -r local_seconds local_items < <(job 5 1)
    sync
    read -r proxy_seconds proxy_items < <(job 6 2)
    local_runs+=("$local_seconds")
    proxy_runs+=("$proxy_seconds")
    ratios+=("$(awk -v li="$local_items" -v ls="$local_seconds" -v pi="$proxy_items" -v ps="$proxy_seconds" \
        'BEGIN { printf "%.3f", (pi / ps) / (li / ls) }')")
done
echo "proxy_job tree=$tree items_local=$local_items items_proxy=$proxy_items" \
     "local_seconds=$(best "${local_runs[@]}") proxy_seconds=$(best "${proxy_runs[@]}")" \
     "rate_ratio_median=$(median "${ratios[@]}") rate_ratio_runs=${ratios[*]}"
