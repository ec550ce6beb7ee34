#!/usr/bin/env bash
# How soon a clip ends after it is due to (offscreen, test camera, 5 s clips
# every 10 s), ROUNDS times each (default 5):
#   1. a clip left alone: from its start to "Clip finished", less its 5 s;
#   2. a clip whose program was stopped (SIGSTOP) for 8 s, past its end:
#      from SIGCONT to "Clip finished".
# Times are taken as the log lines arrive. Usage: bench/clip_end_bench.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/bench/common.sh"
preset "$work" OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On

python3 - "$work" "$build/camwarden" "${ROUNDS:-5}" <<'PY'
import os, signal, statistics, subprocess, sys, threading, time
work, binary, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=f"{work}/config",
           HOME=f"{work}/home", XDG_RUNTIME_DIR=f"{work}/runtime",
           QT_MESSAGE_PATTERN="%{category}: %{message}")
p = subprocess.Popen([binary, "--camera", "test"], env=env, stdout=subprocess.PIPE,
                     stderr=subprocess.STDOUT, text=True)
lines, cv = [], threading.Condition()
def read():
    for line in p.stdout:
        with cv:
            lines.append((time.monotonic(), line))
            cv.notify_all()
threading.Thread(target=read, daemon=True).start()

def next_line(text, after):
    """The moment of the first line holding text past index after, and its index."""
    with cv:
        while True:
            for i in range(after, len(lines)):
                if text in lines[i][1]:
                    return lines[i][0], i + 1
            if not cv.wait(120):
                sys.exit(f"no '{text}' in 120 s")

at, alone, stopped = 0, [], []
for _ in range(rounds):
    began, at = next_line("Clip started", at)
    ended, at = next_line("Clip finished", at)
    alone.append(ended - began - 5)
for _ in range(rounds):
    _, at = next_line("Clip started", at)
    time.sleep(1)
    p.send_signal(signal.SIGSTOP)
    time.sleep(8)
    went_on = time.monotonic()
    p.send_signal(signal.SIGCONT)
    ended, at = next_line("Clip finished", at)
    stopped.append(ended - went_on)
p.terminate()
p.wait()
for name, xs in (("left alone: end past its 5 s", alone),
                 ("stopped 8 s: end after SIGCONT", stopped)):
    print(f"{name:32} median {statistics.median(xs):.3f} s, max {max(xs):.3f} s, "
          f"all {' '.join(f'{x:.3f}' for x in xs)}")
PY
