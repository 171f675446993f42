#!/usr/bin/env bash
# snapshot.sh: the agent's snapshot manager stand-in. Takes a snapshot of each folder for catalog
# job JOBID of INSTANCE and writes the job's snapshot file, which the catalog job reads:
#
#   scripts/snapshot.sh INSTANCE JOBID ARCHIVEID FOLDER...
#
#   $FSWEEP_ROOT/INSTANCE/Snapshots/JOBID.json   (FSWEEP_ROOT defaults to /var/opt/fsweep)
#   {"volumes": [{"source": "FOLDER", "snapshot": "...", "archiveId": ARCHIVEID, "mounted": true}, ...]}
#
# The snapshot of a folder is a copy (cp -a --reflink=auto: shared blocks where the file system
# can) in Snapshots/JOBID/copy-N; run as root, the copy is also bind-mounted read-only on
# Snapshots/JOBID/N and the mount is the snapshot. The first folder gets ARCHIVEID, the next
# ARCHIVEID+1, and so on. Then run the catalog:
#
#   fsweep -vm INSTANCE -j JOBID ... -snap -snapRefTime <the time printed> -depotnode <server>
#
# The catalog job marks the snapshots unmounted (and detaches the mounts, as root) when its
# phase fails; removing Snapshots/JOBID/ afterwards is the operator's.
set -euo pipefail

usage() { sed -n '2,19p' "$0" >&2; exit 2; }
[ $# -ge 4 ] || usage
instance=$1 job=$2 archive=$3
shift 3
[[ $job =~ ^[0-9]+$ && $archive =~ ^[0-9]+$ ]] || { echo "snapshot.sh: JOBID and ARCHIVEID are numbers" >&2; exit 2; }
root=${FSWEEP_ROOT:-/var/opt/fsweep}
[ -n "$root" ] || root=/var/opt/fsweep
folder_of_instance=$root/$instance
[ -d "$folder_of_instance" ] || { echo "snapshot.sh: no instance $folder_of_instance" >&2; exit 1; }

# JSON text of a path: quotes and backslashes escaped; control characters are refused.
json_string() {
    if [[ $1 == *[[:cntrl:]]* ]]; then
        echo "snapshot.sh: path with a control character refused: $1" >&2
        exit 1
    fi
    local text=${1//\\/\\\\}
    printf '"%s"' "${text//\"/\\\"}"
}

umask 022
snapshots=$folder_of_instance/Snapshots
store=$snapshots/$job
[ ! -e "$store" ] || { echo "snapshot.sh: $store exists already (an earlier snapshot of job $job)" >&2; exit 1; }
mkdir -p "$snapshots"
mkdir "$store"
taken=$(date +%s)
entries=()
n=0
for folder in "$@"; do
    folder=$(realpath -e -- "$folder")
    [ -d "$folder" ] || { echo "snapshot.sh: $folder is not a folder" >&2; exit 1; }
    copy=$store/copy-$n
    cp -a --reflink=auto -- "$folder" "$copy"
    snapshot=$copy
    if [ "$(id -u)" -eq 0 ]; then
        snapshot=$store/$n
        mkdir "$snapshot"
        mount --bind "$copy" "$snapshot"
        mount -o remount,bind,ro "$snapshot"
    fi
    entries+=("{\"source\": $(json_string "$folder"), \"snapshot\": $(json_string "$snapshot"), \"archiveId\": $((archive + n)), \"mounted\": true}")
    n=$((n + 1))
done

# Written beside its final name and renamed, synced: the catalog job never reads half of it.
file=$snapshots/$job.json
temp=$(mktemp "$file.tmp.XXXXXXXXXXXXXXXX")
{
    printf '{"volumes": ['
    sep=
    for entry in "${entries[@]}"; do
        printf '%s%s' "$sep" "$entry"
        sep=', '
    done
    printf ']}\n'
} >"$temp"
chmod 0644 "$temp"
sync "$temp"
mv -f -- "$temp" "$file"
sync "$snapshots"
echo "snapshot.sh: $n snapshot(s) of job $job in $file, taken at $taken (-snapRefTime $taken)"
