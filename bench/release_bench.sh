#!/usr/bin/env bash
# How soon Turn Off releases a PipeWire camera, ROUNDS times (default 5), on
# the desktop test's headless session (tests/desktop/session.sh): after a
# clip, Turn Off is pressed through the accessibility bus and PipeWire is
# asked back to back whether the program's connection is still there; then
# Turn On, and the next clip opens it again. Each look (pw-dump) takes its
# own time, printed beside, which the release times include once.
#   bench/release_bench.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
program=$build/camwarden
rounds=${ROUNDS:-5}

source "$root/tests/desktop/session.sh"
trap - ERR
settings OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On
cd "$work"
start program.log env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 bin/camwarden --camera VirtCam
wait_for 150 window_is focused || fail "the window did not show"

finished() { (($(grep -c 'Clip finished' "$work/program.log" || true) >= $1)); }
now() { date +%s.%N; }
# A busy machine may be slow to offer the button on the accessibility bus.
press() { wait_for 100 in_session python3 bin/press_button.py "$1" >/dev/null 2>&1; }

results=()
looks=()
for ((i = 1; i <= rounds; i++)); do
  wait_for 120 finished "$i" || fail "no clip $i: $(tail -5 "$work/program.log")"
  wait_for 30 camera_node || fail "no connection kept after clip $i"
  a=$(now) && camera_node && b=$(now)
  looks+=("$(python3 -c "print(f'{$b - $a:.3f}')")")
  press "Turn Off" || fail "Turn Off could not be pressed"
  pressed=$(now)
  until ! camera_node || (($(date +%s) > ${pressed%.*} + 60)); do :; done
  released=$(now)
  results+=("$(python3 -c "print(f'{$released - $pressed:.3f}')")")
  press "Turn On" || fail "Turn On could not be pressed"
done
python3 - "${results[*]}" "${looks[*]}" <<'PY'
import statistics, sys
rel, look = [list(map(float, a.split())) for a in sys.argv[1:]]
print(f"camera released after Turn Off: median {statistics.median(rel):.3f} s, "
      f"max {max(rel):.3f} s, all {' '.join(f'{x:.3f}' for x in rel)}")
print(f"one look (pw-dump):              median {statistics.median(look):.3f} s, max {max(look):.3f} s")
PY
