#!/usr/bin/env bash
# nuq run with thousands of TCP objects polled once a second against one
# controller simulator: load and stop times, requests and packets per object,
# CPU and memory.
#   bench/run_many_tcp.sh [OBJECTS] [SECONDS]
# Load: from the program's start until polling starts. Stop: from the end of
# the polling time until the program has ended.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
objects="${1:-10000}"
seconds="${2:-60}"
build="$root/build"
work="$(mktemp -d)"
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT

# One connection per object; the shell's own limit may be too low for either side.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

"$build/sim/controller/nuq-sim-controller" --tcp 0 --request REQ --log /dev/null \
  --packet "25 01 85 00FA AA 78 3039 422A0000 4E 00" >"$work/sim.out" &
sim=$!
for _ in $(seq 50); do grep -q listening "$work/sim.out" && break; sleep 0.1; done
port="$(awk '/listening/{print $2; exit}' "$work/sim.out")"

cp "$root/examples/scripts/boiler.nqs" "$work/"
for i in $(seq "$objects"); do
  printf '[K%d]\nName=K%d\nStatus=1\nLink=TCP\nHost=127.0.0.1\nPort=%s\nRequestPeriod=1\nRequestText=REQ\nScript=boiler.nqs\n' \
    "$i" "$i" "$port"
done >"$work/objects.ini"

# Stamps the moments the log says polling started and the output ended.
stamp='
import sys, time
log = open(sys.argv[1], "w", encoding="utf-8", errors="replace")
marks = open(sys.argv[2], "w")
for line in sys.stdin.buffer:
    text = line.decode("utf-8", "replace")
    log.write(text)
    if "Опрос запущен" in text:
        print("started", time.time(), file=marks, flush=True)
print("ended", time.time(), file=marks, flush=True)
'
begin=$(date +%s.%N)
/usr/bin/time -v "$build/app/nuq" --home "$work" run --for "$seconds" 2>"$work/time.txt" |
  python3 -c "$stamp" "$work/run.log" "$work/marks.txt"

started=$(awk '/started/{print $2}' "$work/marks.txt")
ended=$(awk '/ended/{print $2}' "$work/marks.txt")
requests=$(grep -c '>>> <REQ>' "$work/run.log" || true)
packets=$(grep -c ': пакет ' "$work/run.log" || true)
connected=$(grep -cx 'connect' "$work/sim.out" || true)
echo "objects: $objects, seconds: $seconds, connections accepted by the simulator: $connected"
awk -v b="$begin" -v s="$started" -v e="$ended" -v p="$seconds" \
  'BEGIN{printf "load: %.2f s, stop: %.2f s\n", s-b, e-s-p}'
echo "requests sent: $requests, packets decoded: $packets"
# Per object: every request but one in flight at the stop must have its packet.
lost=$(awk '/>>> <REQ>/{gsub(/"/,"",$3); r[$3]++} /: пакет /{n=$3; gsub(/[":]/,"",n); p[n]++}
  END{l=0; for (o in r) if (r[o]-p[o] > 1) l+=r[o]-p[o]-1; print l}' "$work/run.log")
echo "packets lost: $lost"
grep -E 'User time|System time|Percent of CPU|Maximum resident|Elapsed' "$work/time.txt"
