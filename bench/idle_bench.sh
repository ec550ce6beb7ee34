#!/usr/bin/env bash
# What the waiting program costs with its window shown (schedule on, 24-hour
# interval, offscreen), against idle_baseline, a bare Qt window that updates
# a countdown label and a bar once a second, measured in the same run.
#   bench/idle_bench.sh [build-dir]      IDLE_SECONDS (default 60)
#   IDLE_AGE_DAYS=30 bench/idle_bench.sh   the same with the clip age limit on
#                                          at 30 days, over 1,000 clips of the
#                                          past week (none comes due meanwhile)
#   IDLE_ACTIVE_HOURS=1 bench/idle_bench.sh  the same with active hours on,
#                                          waiting outside its span (it opens
#                                          in 6 hours), the camera let go;
#                                          =inside: in a span (-1 to +5 hours)
# Target: the program within 1.3 times the baseline's CPU, and the same
# with the age limit on, and with active hours on.
# A Windows build folder (one with camwarden.exe) is measured under Wine, its
# window on an X display, against the same bare window there, one after the
# other; each with the prefix's wineserver, which does the window system's
# and the timers' work for a Wine program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
secs=${IDLE_SECONDS:-60}
work=$(mktemp -d)
trap 'kill $prog $base 2>/dev/null || true; rm -rf "$work"' EXIT
source "$root/bench/common.sh"

# CPU time in nanoseconds, all threads (ticks are too coarse for a waiting program).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s+=$1} END {print s}'; }

# With the age limit: its settings ($1 = how a key's blank is written), and
# the clips it keeps, one every 10 minutes of the past week.
age_keys() {
  [[ -n ${IDLE_AGE_DAYS:-} ]] && printf '%s\n' "Age${1}Limit=On" "Age${1}Limit${1}Days=$IDLE_AGE_DAYS"
  return 0
}
# With active hours: a span that opens 6 hours from now, for an hour, or
# one that opened an hour ago.
active_keys() {
  local from=+6 to=+7
  [[ ${IDLE_ACTIVE_HOURS:-} != inside ]] || { from=-1 to=+5; }
  [[ -n ${IDLE_ACTIVE_HOURS:-} ]] && printf '%s\n' "Active${1}Hours=On" \
    "Active${1}From=$(date -d "$from hours" +%H:%M)" "Active${1}To=$(date -d "$to hours" +%H:%M)"
  return 0
}
week_of_clips() {
  [[ -n ${IDLE_AGE_DAYS:-} ]] || return 0
  python3 - "$1" <<'PY'
import sys, time
for i in range(1, 1001):
    open(time.strftime(f'{sys.argv[1]}/SS %Y-%m-%d %H-%M-%S.avi', time.localtime(time.time() - 600 * i)), 'wb').write(b'clip')
PY
}

if [[ -f $build/camwarden.exe ]]; then
  [[ -f $build/bench/idle_baseline.exe ]] || { echo "no $build/bench/idle_baseline.exe (CAMWARDEN_BENCH=ON)" >&2; exit 1; }
  trap 'wine_teardown; rm -rf "$work"' EXIT
  wine_setup "$work"
  mapfile -t age < <(age_keys ' '; active_keys ' ')
  wine_preset "$work" OftenIndex=13 OftenIndex1=1 StartStopState=On "${age[@]}"
  week_of_clips "$work/clips"
  server=
  # CPU-ns and wake-ups of pid $1 and of the wineserver over $secs, after 15 s.
  measure() {
    sleep 15
    [[ -n $server ]] || server=$(wineserver_pid)
    local p0 s0 pw0 sw0
    p0=$(cpu_ns "$1"); s0=$(cpu_ns "$server"); pw0=$(wakeups "$1"); sw0=$(wakeups "$server")
    sleep "$secs"
    echo "$(($(cpu_ns "$1") - p0)) $(($(cpu_ns "$server") - s0)) $(($(wakeups "$1") - pw0)) $(($(wakeups "$server") - sw0))"
  }
  wine_start "$build"
  read -r prog prog_server prog_w prog_server_w < <(measure "$wine_pid")
  wine_stop
  # The same window on the same Wine, one at a time: they share the wineserver.
  "$wine_sdk/bin/wine-run" "$build/bench/idle_baseline.exe" >/dev/null 2>&1 &
  runner=$!
  sleep 3
  base_pid=$(ps --ppid "$runner" -o pid=,comm= | awk '$2 == "idle_baseline.e" || $2 == "idle_baseline.exe" {print $1}')
  read -r base base_server base_w base_server_w < <(measure "$base_pid")
  kill "$base_pid"
  python3 - "$prog" "$prog_server" "$prog_w" "$prog_server_w" "$base" "$base_server" "$base_w" \
    "$base_server_w" "$secs" <<'PY'
import sys
p, ps, pw, psw, b, bs, bw, bsw, secs = map(float, sys.argv[1:])
def line(name, cpu, server, w, sw):
    print(f"{name}: {100 * cpu / 1e9 / secs:.3f} % of a core, {w / secs:.1f} wake-ups/s; "
          f"with its wineserver {100 * (cpu + server) / 1e9 / secs:.3f} %, {(w + sw) / secs:.1f} wake-ups/s")
line("waiting program under Wine", p, ps, pw, psw)
line("bare window under Wine    ", b, bs, bw, bsw)
print(f"ratio, with the wineserver: {(p + ps) / (b + bs):.2f}" if b + bs > 0 else "ratio: no measurable baseline")
PY
  exit
fi

mapfile -t age < <(age_keys %20; active_keys %20)
preset "$work" OftenIndex=13 OftenIndex1=1 StartStopState=On "${age[@]}"
week_of_clips "$work/clips"
(run_program "$work" "$build/camwarden" --camera test >"$work/log" 2>&1) &
prog=$!
QT_QPA_PLATFORM=offscreen "$build/bench/idle_baseline" &
base=$!
sleep 15  # start-up, and the caret's blinking after the last input, are not waiting
p0=$(cpu_ns $prog); b0=$(cpu_ns $base); pw0=$(wakeups $prog); bw0=$(wakeups $base)
sleep "$secs"
p1=$(cpu_ns $prog); b1=$(cpu_ns $base); pw1=$(wakeups $prog); bw1=$(wakeups $base)
python3 - "$p0" "$p1" "$b0" "$b1" "$pw0" "$pw1" "$bw0" "$bw1" "$secs" 1e9 <<'PY'
import sys
p0, p1, b0, b1, pw0, pw1, bw0, bw1, secs, hz = map(float, sys.argv[1:])
prog, base = (p1 - p0) / hz, (b1 - b0) / hz
print(f"waiting program: {prog:.3f} CPU-s over {secs:.0f} s ({100 * prog / secs:.3f} % of a core), "
      f"{(pw1 - pw0) / secs:.1f} wake-ups/s")
print(f"bare window:     {base:.3f} CPU-s ({100 * base / secs:.3f} %), {(bw1 - bw0) / secs:.1f} wake-ups/s")
print(f"ratio: {prog / base:.2f} (target <= 1.3)" if base > 0 else "ratio: baseline used no measurable CPU")
PY
