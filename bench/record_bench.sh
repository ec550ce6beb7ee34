#!/usr/bin/env bash
# The record of recorded clips when its file goes wrong, on the real program
# and the test camera (root: the state folder is made read-only by a bind
# mount).
#   bench/record_bench.sh [BUILD_DIR]   RECORD_BENCH_LINES=200000
# Prints, for a state folder that cannot be written and a record of that many
# lines, how late each clip starts after it is due (target: as late as with
# a writable folder); then, for a record whose last line a power cut tore,
# whether every clip is still in it and which clip the size limit deletes
# first (target: the one recorded longest ago).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
. "$root/bench/common.sh"
work=$(mktemp -d)
pid=
cleanup() {
  [[ -z $pid ]] || kill -9 "$pid" 2>/dev/null || true
  umount -l "$work/run/home/.local/state/camwarden" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
state=$work/run/home/.local/state/camwarden
record=$state/recorded-clips.jsonl

start() { (run_program "$work/run" "$build/camwarden" --camera test) >>"$work/log" 2>&1 & pid=$!; }
stop() { kill -TERM "$pid"; wait "$pid" || true; pid=; }
wait_log() {  # pattern count, at most 120 s
  for _ in $(seq 600); do
    (( $(grep -c -- "$1" "$work/log" || true) >= $2 )) && return 0
    sleep 0.2
  done
  echo "waited in vain for '$1' x$2" >&2
  tail -20 "$work/log" >&2
  exit 1
}
# Seconds from each clip's being due to its start, by the log's boot clock.
delays() {
  awk '/clip due:/ {due = $1} /Clip started:/ && due {printf "%.3f\n", $1 - due; due = 0}' "$work/log"
}

echo "== a state folder that cannot be written, a record of ${RECORD_BENCH_LINES:-200000} lines"
preset "$work/run" OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On
mkdir -p "$state"
# Clips of a disk not mounted now: the record keeps them all.
python3 - "$record" "$work/unmounted/clips" "${RECORD_BENCH_LINES:-200000}" <<'PY'
import json, sys
path, clips, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(path, 'w') as f:
    for i in range(1, n + 1):
        f.write(json.dumps({"boot": "b", "file": f"{clips}/SS 2020-01-01 00-00-00 ({i + 1}).avi",
                            "seq": i, "up": i, "wall": 1577836800000 + i}, separators=(',', ':')) + '\n')
PY
mount --bind "$state" "$state"
mount -o remount,bind,ro "$state"
: >"$work/log"
start
wait_log 'Clip started:' 6
stop
umount "$state"
delays | sort -n | awk '{d[NR] = $1} END {printf "clip start after due: median %.3f s, max %.3f s (%d clips)\n", d[int((NR + 1) / 2)], d[NR], NR}'

echo "== a last line torn by a power cut"
rm -rf "$work/run" "$work/log"
preset "$work/run" OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On
start
wait_log 'Clip finished:' 3
stop
# The power cut: the last line cut after its file's name, then blocks of NULs.
python3 - "$record" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
last = data.rstrip(b'\n').rfind(b'\n') + 1
cut = data.find(b'"seq"', last)
open(sys.argv[1], 'wb').write(data[:cut] + b'\0' * 4096)
PY
mapfile -t before < <(find "$work/run/clips" -name '*.avi' | sort)
start
wait_log 'Clip finished:' 5
stop
whole=$(python3 - "$record" <<'PY'
import json, sys
n = 0
for line in open(sys.argv[1], 'rb').read().split(b'\n'):
    try:
        json.loads(line); n += 1
    except ValueError:
        pass
print(n)
PY
)
files=$(find "$work/run/clips" -name '*.avi' | wc -l)
echo "whole lines in the record: $whole of $files clips"
# A size limit the clips of before the tear break: the first to go is the
# oldest recorded.
for f in "${before[@]}"; do truncate -s 60000000 "$f"; done
sed -i "s/^StartStopState=.*/StartStopState=On\nSize%20Limit=On\nSize%20Limit%20GB=0.1/" \
  "$work/run/config/Quillory/Quillory.ini"
start
wait_log 'Deleted the oldest clip' 1
stop
first=$(grep -o 'Deleted the oldest clip [^(]*' "$work/log" | head -1 | sed 's/.*\/SS /SS /')
echo "recorded first: $(basename "${before[0]}"); deleted first: $first"

# Four clips whose names run against the order they were recorded in, with
# numbers equal, or past the top of their range: the first recorded goes first.
for numbers in "5 5 5 5" "9223372036854775806 9223372036854775807 9223372036854775808 9223372036854775809"; do
  echo "== numbers $numbers"
  rm -rf "$work/run" "$work/log"
  preset "$work/run" OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On \
    'Size%20Limit=On' 'Size%20Limit%20GB=0.1'
  mkdir -p "$state"
  order=()
  i=0
  for n in $numbers; do
    i=$((i + 1))
    name="SS $(date -d "-$i hours" '+%Y-%m-%d %H-%M-%S').avi"
    truncate -s 60000000 "$work/run/clips/$name"
    order+=("$name")
    # Written as the earlier versions wrote a number past the top of qint64.
    n=$(python3 -c "n = $n; print(n - 2**64 if n >= 2**63 else n)")
    printf '{"boot":"b","file":"%s","seq":%s,"up":%d,"wall":%d}\n' \
      "$work/run/clips/$name" "$n" "$i" "$i"
  done >"$record"
  start
  wait_log 'Clip started:' 1
  stop
  echo "recorded in order: ${order[*]}"
  echo "deleted in order:  $(grep -o 'Deleted the oldest clip [^(]*' "$work/log" | sed 's/.*\/SS /SS /' | tr '\n' ' ')"
done
