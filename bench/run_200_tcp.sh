#!/usr/bin/env bash
# nuq run with many TCP objects polled once a second against one controller
# simulator: counts requests and packets per object and reports CPU and memory.
#   bench/run_200_tcp.sh [OBJECTS] [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
objects="${1:-200}"
seconds="${2:-60}"
build="$root/build"
work="$(mktemp -d)"
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT

"$build/sim/controller/nuq-sim-controller" --tcp 0 --request REQ \
  --packet "25 01 85 00FA AA 78 3039 422A0000 4E 00" >"$work/sim.out" &
sim=$!
for _ in $(seq 50); do grep -q listening "$work/sim.out" && break; sleep 0.1; done
port="$(awk '/listening/{print $2; exit}' "$work/sim.out")"

cp "$root/examples/scripts/boiler.nqs" "$work/"
for i in $(seq "$objects"); do
  printf '[K%d]\nName=K%d\nStatus=1\nLink=TCP\nHost=127.0.0.1\nPort=%s\nRequestPeriod=1\nRequestText=REQ\nScript=boiler.nqs\n' \
    "$i" "$i" "$port"
done >"$work/objects.ini"

/usr/bin/time -v "$build/app/nuq" --home "$work" run --for "$seconds" >"$work/run.log" 2>"$work/time.txt"

requests=$(grep -c '>>> <REQ>' "$work/run.log" || true)
packets=$(grep -c ': пакет ' "$work/run.log" || true)
echo "objects: $objects, seconds: $seconds"
echo "requests sent: $requests, packets decoded: $packets"
# Per object: every request but one in flight at the stop must have its packet.
lost=$(awk '/>>> <REQ>/{gsub(/"/,"",$3); r[$3]++} /: пакет /{n=$3; gsub(/[":]/,"",n); p[n]++}
  END{l=0; for (o in r) if (r[o]-p[o] > 1) l+=r[o]-p[o]-1; print l}' "$work/run.log")
echo "packets lost: $lost"
grep -E 'User time|System time|Percent of CPU|Maximum resident' "$work/time.txt"
