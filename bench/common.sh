# Shell helpers shared by the job benchmarks (sourced, not run). parse_options sets `build`,
# `work`, `runs`, `large`, `bench` (folder of the benchmark programs) and `fsweep`; the other
# helpers use them.

# The job benchmarks' common options: -b BUILD, -w WORKDIR, -r RUNS, --large FILES, --no-large.
# Makes WORKDIR; -h prints the caller's header (its lines 2 to HELP_END).
parse_options() {  # DEFAULT_BUILD HELP_END ARGS...
    local name
    name=$(basename "$0")
    build=$1
    local help_end=$2
    shift 2
    work=/tmp/fsweep-bench
    runs=5
    large=1000000
    while [ $# -gt 0 ]; do
        case "$1" in
        -b) build=$2; shift 2 ;;
        -w) work=$2; shift 2 ;;
        -r) runs=$2; shift 2 ;;
        --large) large=$2; shift 2 ;;
        --no-large) large=0; shift ;;
        -h|--help) sed -n "2,${help_end}p" "$0"; exit 0 ;;
        *) echo "$name: unknown argument $1" >&2; exit 2 ;;
        esac
    done
    bench=$build/bench
    fsweep=$build/src/fsweep
    [ -x /usr/bin/time ] || { echo "$name: /usr/bin/time is needed for the programs' peak memory" >&2; exit 2; }
    mkdir -p "$work"
}

need_tools() {  # TOOL...: each must be an executable file of the build
    local tool
    for tool in "$@"; do
        [ -x "$tool" ] || { echo "$(basename "$0"): $tool missing; build $(basename "$tool") in $build" >&2; exit 2; }
    done
}

make_tree() {  # FILES DIR: made once (seed 1) and kept for the next run
    [ -d "$2" ] || "$bench/make_tree" --files "$1" --seed 1 "$2" >&2
}

# A scratch instance at $work/root whose subclient backs up $1 with two folder-level threads.
instance() {
    rm -rf "$work/root"
    mkdir -p "$work/root/inst/registry" "$work/root/inst/config/apps"
    echo "nLogLevel 0" >"$work/root/inst/registry/FileSystemAgent"
    cat >"$work/root/inst/config/apps/2:5.json" <<EOF
{"appType": 29, "indexV2": true, "client": {"id": 2, "name": "bench"},
 "backupSet": {"name": "defaultBackupSet", "default": true},
 "subclient": {"id": 5, "name": "bench", "content": ["$1"], "numStreams": 1, "folderLevelThreads": 2}}
EOF
}

# Runs the full job (job 1) of the instance at $work/root; prints "seconds peak_rss_kib". The
# caller's name prefixes the messages of a job that fails.
full_job() {
    FSWEEP_ROOT=$work/root timed /dev/null \
        "$fsweep" -vm inst -j 1 -a 2:5 -cn bench -jt bench -t 1 2>"$work/fsweep.err" ||
        { echo "$(basename "$0"): fsweep failed:" >&2; cat "$work/fsweep.err" >&2; exit 1; }
    grep -q '"call":"complete","status":1' "$work/root/inst/JobManager/1.jsonl" ||
        { echo "$(basename "$0"): the job did not complete; see $work/root/inst" >&2; exit 1; }
    rm -f "$work/root/inst/JobManager/1.jsonl"
}

# Runs job JOB of TYPE (with -ref REF when given, then any further options); prints
# "seconds peak_rss_kib".
scan() {  # JOB TYPE [REF [OPTION...]]
    local extra=()
    [ $# -ge 3 ] && extra=(-ref "$3" "${@:4}")
    FSWEEP_ROOT=$work/root timed /dev/null \
        "$fsweep" -vm inst -j "$1" -a 2:5 -cn bench -jt bench -t "$2" "${extra[@]}" 2>"$work/fsweep.err" ||
        { echo "$(basename "$0"): fsweep failed:" >&2; cat "$work/fsweep.err" >&2; exit 1; }
    grep -q '"call":"complete","status":1' "$work/root/inst/JobManager/$1.jsonl" ||
        { echo "$(basename "$0"): job $1 did not complete; see $work/root/inst" >&2; exit 1; }
}

reference_of() {  # JOB: the " -r " the job hands to the next phase
    grep -o ' -r [0-9]*' "$work/root/inst/JobManager/$1.jsonl" | head -n 1 | awk '{print $2}'
}

# Modifies every 100th file, adds a file beside every 1000th and deletes every 1000th (offset
# 500), in a fixed order. Prints "changed added deleted".
change_tree() {  # DIR
    local list=$work/files.txt
    find "$1" -type f -print | LC_ALL=C sort >"$list"
    awk 'NR % 100 == 0' "$list" | while IFS= read -r f; do printf 'x' >>"$f"; done
    awk 'NR % 1000 == 0' "$list" | while IFS= read -r f; do printf 'new' >"$f.added"; done
    awk 'NR % 1000 == 500' "$list" | while IFS= read -r f; do rm -f -- "$f"; done
    awk 'NR % 100 == 0 {c++} NR % 1000 == 0 {a++} NR % 1000 == 500 {d++} END {print c+0, a+0, d+0}' "$list"
}

# DIR becomes a fresh copy of the seed tree of FILES files, backed up by a full job (job 1) and
# fsbackup (which puts the record in place and writes the job's backup index).
backed_up_copy() {  # FILES DIR
    local seed=$work/seed$(($1 / 1000))k
    make_tree "$1" "$seed"
    rm -rf "$2"
    cp -a "$seed" "$2"
    instance "$2"
    sleep 1  # the copy's change times lie before the full job's reference second
    scan 1 1 >/dev/null
    FSWEEP_ROOT=$work/root "$build/src/fsbackup" -vm inst -j 1 -a 2:5 -t 1 >/dev/null
}

field() {  # RECORD NAME
    sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<"$1"
}

# Runs CMD with its standard output in OUT; prints "seconds peak_rss_kib" of the whole process,
# start to exit (the clock of the shell, to the microsecond; time(1) counts hundredths only).
# Every program a benchmark compares is timed this way, so that all pay their start, their
# library's loading and their exit alike.
timed() {  # OUT CMD...
    local out=$1 stats=$work/timed.rss
    shift
    local start=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o "$stats" "$@" >"$out" || return 1
    local end=$EPOCHREALTIME
    awk -v s="$start" -v e="$end" -v k="$(tail -n 1 "$stats")" 'BEGIN { printf "%.3f %d\n", e - s, k }'
}

best() {  # prints the smallest of its arguments
    printf '%s\n' "$@" | sort -g | head -n 1
}

median() {  # prints the middle one of its arguments (the lower of the two middle ones)
    printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"
}
