#!/usr/bin/env bash
# sqlite_job.sh: the full and the incremental job with the database record ("nUseSQLiteDirchange"
# 1) against the same jobs with the text record, on one tree after the same changes, warm cache,
# 2 threads; the database's size per item; then the peak memory of both jobs with the database
# record on a large tree.
#
#   bench/sqlite_job.sh [-b BUILD] [-w WORKDIR] [-r RUNS] [--large FILES | --no-large]
#
# BUILD, WORKDIR, RUNS, --large as for incremental_job.sh. The tree (bench/make_tree, seed 1) is
# copied and backed up by a full job and fsbackup in two instances, one per record kind; then it
# is changed as incremental_job.sh changes it. Measured in turns: the text full, the database
# full, the text incremental, the database incremental (each incremental with -ref of its full).
# Prints
#   sqlite_job files=N text_full=S db_full=S ratio_full=R text_incr=S db_incr=S ratio_incr=R
#       db_full_peak_rss_kib=K db_incr_peak_rss_kib=K db_bytes_per_item=B
#   sqlite_job_large files=N full_seconds=S full_peak_rss_kib=K incr_seconds=S incr_peak_rss_kib=K
#       db_bytes_per_item=B
# (times: the best run; ratios: database / text, the median of the pairs).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build 20 "$@"
fsbackup=$build/src/fsbackup
need_tools "$bench/make_tree" "$fsweep" "$fsbackup"
base=$work

# One instance per record kind: common.sh's helpers work in $work/root, so $work moves with it.
use() {  # text|db
    work=$base/$1
}

# TREE becomes a fresh copy of the seed tree of FILES files, backed up in both instances, then
# changed.
prepare() {  # FILES TREE
    work=$base
    local seed=$base/seed$(($1 / 1000))k
    make_tree "$1" "$seed"
    rm -rf "$2"
    cp -a "$seed" "$2"
    local kind
    for kind in text db; do
        use "$kind"
        mkdir -p "$work"
        instance "$2"
        [ "$kind" = db ] && echo "nUseSQLiteDirchange 1" >>"$work/root/inst/registry/FileSystemAgent"
    done
    sleep 1  # the copy's change times lie before the full jobs' reference second
    for kind in text db; do
        use "$kind"
        scan 1 1 >/dev/null
        FSWEEP_ROOT=$work/root "$fsbackup" -vm inst -j 1 -a 2:5 -t 1 >/dev/null
    done
    sleep 1
    work=$base
    change_tree "$2" >/dev/null
    sleep 1  # changes lie before the incrementals' own start second
}

items_of() {  # TREE: files and folders
    find "$1" | wc -l
}

db_bytes_per_item() {  # TREE: the size of the database the last full job wrote, per item
    local size
    size=$(stat -c %s "$base/db/root/inst/JobResults/2/5/DirChangePending.db")
    awk -v s="$size" -v n="$(items_of "$1")" 'BEGIN { printf "%.1f", s / n }'
}

tree=$base/sqlite200k
prepare 200000 "$tree"
use text; text_ref=$(reference_of 1)
use db; db_ref=$(reference_of 1)
for kind in text db; do  # warm
    use "$kind"
    ref=$text_ref
    [ "$kind" = db ] && ref=$db_ref
    scan 2 2 "$ref" >/dev/null
    scan 3 1 >/dev/null
done
text_full=() db_full=() text_incr=() db_incr=() full_pairs=() incr_pairs=()
for ((i = 0; i < runs; i++)); do
    use text; read -r tf rss < <(scan 3 1)
    use db; read -r df db_full_rss < <(scan 3 1)
    use text; read -r ti rss < <(scan 2 2 "$text_ref")
    use db; read -r di db_incr_rss < <(scan 2 2 "$db_ref")
    text_full+=("$tf") db_full+=("$df") text_incr+=("$ti") db_incr+=("$di")
    full_pairs+=("$(awk -v a="$df" -v b="$tf" 'BEGIN { printf "%.2f", a / b }')")
    incr_pairs+=("$(awk -v a="$di" -v b="$ti" 'BEGIN { printf "%.2f", a / b }')")
done
use db; scan 3 1 >/dev/null  # the database of a full of the changed tree, for its size
echo "sqlite_job files=$(find "$tree" -type f | wc -l) text_full=$(best "${text_full[@]}") db_full=$(best "${db_full[@]}")" \
    "ratio_full=$(median "${full_pairs[@]}") text_incr=$(best "${text_incr[@]}") db_incr=$(best "${db_incr[@]}")" \
    "ratio_incr=$(median "${incr_pairs[@]}") db_full_peak_rss_kib=$db_full_rss db_incr_peak_rss_kib=$db_incr_rss" \
    "db_bytes_per_item=$(db_bytes_per_item "$tree")"
echo "runs text_full=${text_full[*]} db_full=${db_full[*]} text_incr=${text_incr[*]} db_incr=${db_incr[*]}"

if [ "$large" -gt 0 ]; then
    big=$base/sqlite$((large / 1000))k
    prepare "$large" "$big"
    use db
    ref=$(reference_of 1)
    read -r incr_seconds incr_rss < <(scan 2 2 "$ref")
    read -r full_seconds full_rss < <(scan 3 1)
    echo "sqlite_job_large files=$large full_seconds=$full_seconds full_peak_rss_kib=$full_rss" \
        "incr_seconds=$incr_seconds incr_peak_rss_kib=$incr_rss db_bytes_per_item=$(db_bytes_per_item "$big")"
fi
