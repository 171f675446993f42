# Shell helpers shared by the job benchmarks (sourced, not run). The caller sets `bench`
# (folder of the benchmark programs) and `work` (scratch folder).

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
