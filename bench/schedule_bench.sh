#!/usr/bin/env bash
# Measures the scheduled program as a user runs it (offscreen, test camera):
#   1. the waiting program (schedule on, 24-hour interval): CPU and wake-ups
#      over IDLE_SECONDS (default 60);
#   2. start-to-start spacing of CLIPS clips (default 30) at a 10 s interval,
#      twice: of the moments the clips fall due (the schedule itself), and
#      of their first frames (where the files really begin, as a user sees
#      them); and the drift each accumulates;
#   3. each clip's media length against the chosen 5 s.
# Usage: bench/schedule_bench.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/camwarden
idle_seconds=${IDLE_SECONDS:-60}
clips=${CLIPS:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$root/bench/common.sh"

cpu_ticks() { awk '{print $14+$15}' /proc/"$1"/stat; }

if (( idle_seconds > 0 )); then
echo "== waiting program: schedule on, 24-hour interval, ${idle_seconds} s"
r=$work/idle
preset "$r" OftenIndex=13 OftenIndex1=1 StartStopState=On
run_program "$r" "$bin" --camera test >"$r/log" 2>&1 &
pid=$!
sleep 5  # start-up is not waiting
t0=$(cpu_ticks $pid); w0=$(wakeups $pid)
sleep "$idle_seconds"
t1=$(cpu_ticks $pid); w1=$(wakeups $pid)
rss=$(awk '/VmHWM/ {print $2}' /proc/$pid/status)
kill -TERM $pid; wait $pid || true
hz=$(getconf CLK_TCK)
python3 - "$t0" "$t1" "$w0" "$w1" "$hz" "$idle_seconds" "$rss" <<'PY'
import sys
t0, t1, w0, w1, hz, secs, rss = map(float, sys.argv[1:])
cpu = (t1 - t0) / hz
print(f"cpu: {cpu:.2f} s over {secs:.0f} s = {100 * cpu / secs:.3f} % of one core (target < 0.1 %)")
print(f"wake-ups: {(w1 - w0) / secs:.1f} per second, all threads (target: a few)")
print(f"peak memory (VmHWM): {rss / 1024:.1f} MB")
PY
fi

echo "== ${clips} clips, every 10 s, 5 s long"
r=$work/spacing
preset "$r" OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On
run_program "$r" "$bin" --camera test >"$r/log" 2>&1 &
pid=$!
# Wait until the wanted number of clips has finished.
deadline=$(( SECONDS + clips * 10 + 30 ))
finished() { local n; n=$(grep -c 'Clip finished' "$r/log" 2>/dev/null) || true; echo "${n:-0}"; }
while (( $(finished) < clips )) && (( SECONDS < deadline )); do sleep 1; done
rss=$(awk '/VmHWM/ {print $2}' /proc/$pid/status)
kill -TERM $pid; wait $pid || true
echo "peak memory while recording (VmHWM): $(( rss / 1024 )) MB (target < 100 MB)"
durations=()
for f in "$r"/clips/*.avi; do
  durations+=("$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$f")")
done
python3 - "$r/log" "$clips" "${durations[@]}" <<'PY'
import re, sys, statistics
log, n, durs = sys.argv[1], int(sys.argv[2]), [float(d) for d in sys.argv[3:]]
text = open(log).read()
due = {m.group(2): float(m.group(1)) for m in re.finditer(
    r'^\s*(\d+\.\d+) camwarden.capture: clip due: "(.*)"$', text, re.M)}
first = sorted(due[m.group(1)] + int(m.group(2)) / 1000 for m in re.finditer(
    r'^\s*\d+\.\d+ camwarden.gst: Clip finished: (.*) - \d+ frames, .*; first frame (\d+) ms after the request$',
    text, re.M) if m.group(1) in due)[:n]
def spacing(label, starts):
    gaps = [b - a for a, b in zip(starts, starts[1:])]
    if not gaps:
        print(f"{label}: fewer than two clips"); return
    drift = starts[-1] - starts[0] - 10 * len(gaps)
    print(f"{label}: {len(starts)} clips; spacing mean {statistics.mean(gaps):.4f} s, "
          f"min {min(gaps):.4f}, max {max(gaps):.4f} (target 10.000 ± 0.05); "
          f"drift over {len(gaps)} intervals {drift * 1000:+.1f} ms")
spacing("due times (the schedule)", sorted(due.values())[:n])
spacing("first frames (the files)", first)
if durs:
    print(f"media length of {len(durs)} clips: mean {statistics.mean(durs):.3f} s, min {min(durs):.3f}, max {max(durs):.3f} (chosen 5 s)")
PY
