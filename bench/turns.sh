#!/usr/bin/env bash
# turns.sh: the full job of several fsweep builds, run in turns, one job each per round after a
# sync, on the tree and instance bench/full_job.sh leaves; for differences smaller than the
# machine's drift between whole benchmark runs.
#
#   bench/turns.sh [-w WORKDIR] [-n ROUNDS] BUILD...
#
# Prints per build its mean and median seconds and the median and mean of its paired ratio to the
# first build (round by round). Run bench/full_job.sh once first: it makes the tree and instance.
set -euo pipefail

work=/tmp/fsweep-bench
rounds=15
while [ $# -gt 0 ]; do
    case $1 in
        -w) work=$2; shift 2 ;;
        -n) rounds=$2; shift 2 ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: bench/turns.sh [-w WORKDIR] [-n ROUNDS] BUILD..." >&2; exit 2; }
[ -d "$work/root/inst" ] || { echo "turns.sh: no instance in $work; run bench/full_job.sh first" >&2; exit 2; }

times=$(mktemp)
trap 'rm -f "$times"' EXIT
for ((i = 0; i < rounds; i++)); do
    for build in "$@"; do
        sync
        start=$(date +%s%N)
        FSWEEP_ROOT=$work/root "$build/src/fsweep" -vm inst -j 1 -a 2:5 -cn bench -jt bench -t 1 >/dev/null 2>&1 ||
            { echo "turns.sh: $build/src/fsweep failed" >&2; exit 1; }
        end=$(date +%s%N)
        echo "$build $(((end - start) / 1000))" >>"$times"
    done
done
python3 - "$times" "$@" <<'PY'
import statistics as st, sys
runs = {}
for line in open(sys.argv[1]):
    build, micros = line.split()
    runs.setdefault(build, []).append(int(micros) / 1e6)
first = sys.argv[2]
for build in sys.argv[2:]:
    ratios = [b / a for a, b in zip(runs[first], runs[build])]
    print("turns build=%s mean_seconds=%.4f median_seconds=%.4f ratio_median=%.3f ratio_mean=%.3f" %
          (build, st.mean(runs[build]), st.median(runs[build]), st.median(ratios), st.mean(ratios)))
PY
