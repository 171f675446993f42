#!/usr/bin/env bash
# journal_daemon.sh: what fsjournald costs while files are written into journaled content.
#
#   bench/journal_daemon.sh [-b BUILD] [-w WORKDIR] [--large FILES]
#
# BUILD     build folder with make_tree and fsjournald (default build)
# WORKDIR   scratch folder (default /tmp/fsweep-bench)
# --large   files written (default 100000)
#
# Runs as root (fanotify file-system marks). A scratch instance journals one folder; the daemon
# is started, bench/make_tree writes the files into that folder, the script waits until the
# daemon's CPU time stops growing (its queue is drained), syncs once and stops it. Prints
#   journal_daemon files=N write_seconds=S cpu_seconds=C cpu_us_per_file=U events=E
#       events_per_cpu_second=R journal_bytes=B peak_rss_kib=K
# (cpu: user + system of the daemon from /proc/<pid>/stat; events: what it read, from its stop line).
set -euo pipefail

source "$(dirname "$0")/common.sh"
parse_options build 16 "$@"
[ "$large" = 1000000 ] && large=100000  # the common default is the scan trees' size
fsjournald=$build/src/fsjournald
need_tools "$bench/make_tree" "$fsjournald"
[ "$(id -u)" = 0 ] || { echo "journal_daemon.sh: fsjournald needs root" >&2; exit 2; }

base=$work/journal-daemon
rm -rf "$base"
mkdir -p "$base/content" "$base/root/inst/config/apps"
echo "{\"appType\": 29, \"subclient\": {\"content\": [\"$base/content\"], \"changeJournal\": true}}" \
    >"$base/root/inst/config/apps/2:5.json"
FSWEEP_ROOT=$base/root "$fsjournald" -vm inst >"$base/out" 2>"$base/err" &
daemon=$!
trap 'kill $daemon 2>/dev/null || true' EXIT
for ((i = 0; i < 300; i++)); do
    grep -q '^fsjournald: ready$' "$base/out" && break
    sleep 0.1
done
grep -q '^fsjournald: ready$' "$base/out" || { cat "$base/err" >&2; exit 1; }

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$daemon/stat"; }
before=$(cpu_ticks)
start=$EPOCHREALTIME
"$bench/make_tree" --files "$large" --seed 2 "$base/content/written" >/dev/null
end=$EPOCHREALTIME
last=-1
while [ "$(cpu_ticks)" != "$last" ]; do  # drained when a quarter second adds no CPU time
    last=$(cpu_ticks)
    sleep 0.25
done
after=$(cpu_ticks)
rss=$(awk '/^VmHWM:/ {print $2}' "/proc/$daemon/status")
python3 -c "
import socket; s = socket.socket(socket.AF_UNIX); s.connect('$base/root/inst/run/fsjournald.sock')
s.sendall(b'sync $base/root/inst/JobResults/2/5\n'); print(s.recv(200).decode().strip())" >"$base/sync"
kill -TERM "$daemon"
wait "$daemon" || true
trap - EXIT
events=$(sed -n 's/^fsjournald: stopped after \([0-9]*\) events$/\1/p' "$base/err")
bytes=$(stat -c %s "$base/root/inst/JobResults/2/5/ChangeJournal.jnl")
awk -v n="$large" -v s="$start" -v e="$end" -v b="$before" -v a="$after" -v hz="$(getconf CLK_TCK)" \
    -v ev="${events:-0}" -v by="$bytes" -v k="$rss" 'BEGIN {
    cpu = (a - b) / hz
    printf "journal_daemon files=%d write_seconds=%.2f cpu_seconds=%.2f cpu_us_per_file=%.1f events=%d events_per_cpu_second=%.0f journal_bytes=%d peak_rss_kib=%d\n",
           n, e - s, cpu, cpu * 1e6 / n, ev, (cpu > 0 ? ev / cpu : 0), by, k }'
