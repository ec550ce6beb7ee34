#!/usr/bin/env bash
# Quits the real program QUITS times (default 50) on a headless Wayland
# desktop with PipeWire running and a camera only PipeWire offers (the
# desktop test's session, tests/desktop/session.sh): every other run while a
# clip records, the rest idle, by the tray menu's Quit, the window's close
# and SIGTERM in turn. Counts the runs that did not end cleanly: an abort or
# a crash ("double free", exit 134), another exit code, or no end within 15 s.
#   bench/quit_loop_bench.sh [build-dir]     (QUIT_LOGS=DIR keeps the logs)
# Target: every run ends cleanly. Logs of the runs that did not are printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
quits=${QUITS:-50}
program=$build/camwarden
out=${QUIT_LOGS:-}  # keeps the runs' logs there

source "$root/tests/desktop/session.sh"
trap - ERR
start waybar.log waybar
settings OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On
cd "$work"

ways=(Quit close SIGTERM)
results=$work/results
: >"$results"
for ((i = 0; i < quits; i++)); do
  way=${ways[(i / 2) % 3]}
  when=$([[ $((i % 2)) == 1 ]] && echo clip || echo idle)
  log=run$i.log
  if [[ $when == clip ]]; then
    # A producer that another connection has left may never send again
    # (GStreamer 1.22's PipeWire source); a clip wants frames.
    kill "$producer"
    start_virtual_camera VirtCam
    producer=${pids[-1]}
  fi
  start "$log" env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 bin/camwarden --camera VirtCam
  pid=${pids[-1]}
  wait_for 15 grep -q 'camwarden.app: ready' "$work/$log" || true
  wait_for 10 icon_registered || true
  if [[ $when == clip ]]; then
    in_session python3 bin/press_button.py "Create 5 Second Webcam Video Now (Test Software)" || true
    wait_for 10 grep -q 'Clip started' "$work/$log" || true
  fi
  sleep "0.$((RANDOM % 9 + 1))"
  asked=$(date +%s.%N)
  case $way in
    Quit) tray_quit || true ;;
    close) in_session swaymsg -q '[app_id=com.quillory.Camwarden] kill' || true ;;
    SIGTERM) kill -TERM "$pid" ;;
  esac
  wait_for 15 bash -c "! kill -0 $pid 2>/dev/null" || kill -KILL "$pid" 2>/dev/null || true
  rc=0
  wait "$pid" || rc=$?
  ended=$(date +%s.%N)
  echo "$way $when $rc $(python3 -c "print(f'{$ended - $asked:.2f}')") $log" >>"$results"
done

python3 - "$results" "$work" <<'PY'
import collections, re, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
by = collections.defaultdict(lambda: [0, 0])
bad = []
for way, when, rc, took, log in rows:
    by[(way, when)][0] += 1
    if rc != "0":
        by[(way, when)][1] += 1
        bad.append((way, when, rc, log))
print("way      when  runs  not clean")
for (way, when), (runs, failed) in sorted(by.items()):
    print(f"{way:8} {when:5} {runs:4}  {failed:4}")
times = sorted(float(r[3]) for r in rows if r[2] == "0")
if times:
    print(f"quit to exit: median {times[len(times) // 2]:.2f} s, max {times[-1]:.2f} s")
aborts = sum(1 for b in bad if b[2] in ("134", "139"))
frames = [int(n) for n in re.findall(r"Clip (?:finished|ended by an error): .* - (\d+) frames",
                                      "".join(open(f"{sys.argv[2]}/{r[4]}", errors="replace").read()
                                              for r in rows if r[1] == "clip"))]
print(f"clips cut by quitting: {len(frames)}, {sum(1 for f in frames if f)} with frames")
print(f"{len(rows)} quits, {len(bad)} not clean, {aborts} aborts or crashes")
for way, when, rc, log in bad:
    text = open(f"{sys.argv[2]}/{log}", errors="replace").read()
    why = re.findall(r".*(?:free|corrupt|tcache|Abort|Segmentation).*", text)
    print(f"  {log} ({way}, {when}): exit {rc}; {why[-1].strip() if why else text.strip().splitlines()[-1:]}")
print("verdict:", "target met" if not bad else "TARGET MISSED")
PY
