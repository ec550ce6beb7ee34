#!/usr/bin/env bash
# How soon the Windows build, waiting with its window shown, ends after a
# close request (taskkill without /f, as log-off and the setup program
# send it), under Wine on an Xvfb of its own:
#   bench/close_bench.sh BUILD-WIN [RUNS]
# Twice: as Wine runs with no window manager (every window it hides waits
# two seconds for one that never answers: the program's own, and Wine's
# tray hiding the icon), and with Wine drawing its windows' frames itself
# as Windows does ("Managed" off), which is what a desktop's window manager
# or Windows itself gives.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
runs=${2:-5}
. "$root/bench/common.sh"
work=$(mktemp -d)
trap 'wine_teardown; rm -rf "$work"' EXIT
wine_setup "$work"
wine_preset "$work" StartStopState=Off
for managed in Y N; do
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f >/dev/null 2>&1
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  times=()
  for _ in $(seq "$runs"); do
    wine_start "$build"
    began=$(date +%s%N)
    wine_stop
    times+=($((($(date +%s%N) - began) / 1000000)))
  done
  echo "windows managed=$managed: closed in ${times[*]} ms (taskkill included)"
done
