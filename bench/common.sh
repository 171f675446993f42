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

best() {  # prints the smallest of its arguments
    printf '%s\n' "$@" | sort -g | head -n 1
}
