#!/usr/bin/env bash
# Start-up time (process start until the window is up and waiting) and the
# memory of the waiting window, over RUNS starts (default 10), offscreen on
# the test camera with the schedule off. A Windows build folder (one with
# camwarden.exe) is measured under Wine, its window on an X display, from
# the moment Wine is asked to start it (its wineserver already running).
# Usage: bench/startup_bench.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${RUNS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/bench/common.sh"

if [[ -f $build/camwarden.exe ]]; then
  trap 'wine_teardown; rm -rf "$work"' EXIT
  wine_setup "$work"
  wine_preset "$work" StartStopState=Off
  times=() rss=()
  for ((i = 0; i < runs; i++)); do
    started=$(date +%s.%N)
    wine_start "$build"
    sleep 2
    ready=$(date -d "$(awk '/ ready/ {print $1, $2; exit}' "$wine_log")" +%s.%N)
    times+=("$(python3 -c "print($ready - $started)")")
    rss+=("$(awk '/VmRSS/ {print $2}' /proc/"$wine_pid"/status)")
    wine_stop
  done
  python3 - "${times[*]}" "${rss[*]}" <<'PY'
import statistics, sys
t, r = ([float(x) for x in a.split()] for a in sys.argv[1:])
print(f"under Wine, start-up to a waiting window: median {statistics.median(t)*1000:.0f} ms, max {max(t)*1000:.0f} ms over {len(t)} starts")
print(f"memory of the waiting window (the Wine process): RSS median {statistics.median(r)/1024:.1f} MB")
PY
  exit
fi

preset "$work" StartStopState=Off

times=() rss=() pss=()
for ((i = 0; i < runs; i++)); do
  run_program "$work" "$build/camwarden" --camera test > "$work/log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do grep -q ' ready' "$work/log" && break; sleep 0.05; done
  # A start that never got ready has no start-up time; counting it would flatter the median.
  if ! grep -q ' ready' "$work/log"; then
    kill -KILL $pid 2>/dev/null || true
    echo "start $((i + 1)) was not ready within 5 s; its log:" >&2
    cat "$work/log" >&2
    exit 1
  fi
  sleep 2  # settle, then read the waiting window's memory
  # Both on the boot clock: when the kernel started the process, when the window was ready.
  started=$(awk -v hz="$(getconf CLK_TCK)" '{print $22 / hz}' /proc/$pid/stat)
  ready=$(awk '/ ready/ {print $1; exit}' "$work/log")
  times+=("$(python3 -c "print($ready - $started)")")
  rss+=("$(awk '/VmRSS/ {print $2}' /proc/$pid/status)")
  pss+=("$(awk '/^Pss:/ {print $2}' /proc/$pid/smaps_rollup)")
  kill -TERM $pid; wait $pid || true
done
python3 - "${times[*]}" "${rss[*]}" "${pss[*]}" <<'PY'
import statistics, sys
t, r, p = ([float(x) for x in a.split()] for a in sys.argv[1:])
if min(t) <= 0:
    sys.exit(f"a start-up time came out as {min(t):.3f} s: the clocks do not agree, nothing is measured")
print(f"start-up to a waiting window: median {statistics.median(t)*1000:.0f} ms, max {max(t)*1000:.0f} ms over {len(t)} starts")
print(f"memory of the waiting window: RSS median {statistics.median(r)/1024:.1f} MB, PSS median {statistics.median(p)/1024:.1f} MB")
PY
