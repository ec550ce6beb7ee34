#!/usr/bin/env bash
# Leaves the real program recording (test camera, offscreen) as a user would
# leave it alone: a clip every 10 s, 5 s long, for SOAK_MINUTES (default 60).
# Each minute it samples resident memory and open descriptors; at the end it
# checks that every clip that fell due is in the folder and plays to its end.
#   bench/soak_bench.sh [build-dir]
# Targets: descriptors flat (within 2 of the first sample after the first
# clip), resident memory growing less than 1 MB per hour after the first
# five minutes, every clip present and playable. It also reports how long
# putting each finished clip on disk took.
# With SOAK_CHECK=1 it exits non-zero when a target is missed (CI's short form).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/camwarden
minutes=${SOAK_MINUTES:-60}
work=${SOAK_DIR:-$(mktemp -d)}
[[ -n ${SOAK_DIR:-} ]] || trap 'rm -rf "$work"' EXIT

source "$root/bench/common.sh"

preset "$work" OftenIndex=1 OftenIndex1=1 ReturnSecondsRec=5 StartStopState=On
QT_LOGGING_RULES="camwarden.gst.disk.debug=true" \
  run_program "$work" "$bin" --camera test >"$work/log" 2>&1 &
pid=$!
samples=$work/samples
echo "minute rss_kb fds clips" >"$samples"
sample() {
  local rss fds
  rss=$(awk '/VmRSS/ {print $2}' /proc/$pid/status)
  fds=$(ls /proc/$pid/fd | wc -l)
  echo "$1 $rss $fds $(grep -c 'Clip finished' "$work/log" || true)" >>"$samples"
}
sleep 8  # past start-up and into the first clip
sample 0
for ((m = 1; m <= minutes; m++)); do
  sleep 60
  kill -0 $pid 2>/dev/null || { echo "the program ended by itself"; cat "$work/log" | tail -20; exit 1; }
  sample "$m"
done
kill -TERM $pid
wait $pid || true

python3 - "$work" "$minutes" "${SOAK_CHECK:-0}" <<'PY'
import glob, json, os, re, subprocess, sys
work, minutes, check = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
rows = [l.split() for l in open(f"{work}/samples").read().split("\n")[1:] if l.strip()]
mins = [int(r[0]) for r in rows]; rss = [int(r[1]) for r in rows]; fds = [int(r[2]) for r in rows]
print("minute  rss(MB)  fds  clips")
for r in rows:
    print(f"{int(r[0]):6d}  {int(r[1]) / 1024:7.1f}  {int(r[2]):3d}  {int(r[3]):5d}")
log = open(f"{work}/log").read()
due = len(re.findall(r"camwarden.capture: clip due", log))
failed = re.findall(r"(Clip ended by an error.*|clip failed.*|Cannot capture.*)", log)
clips = sorted(glob.glob(f"{work}/clips/*.avi"))
bad = []
for c in clips:
    p = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_entries",
                        "stream=nb_frames,nb_read_frames", "-of", "json", c],
                       capture_output=True, text=True)
    s = json.loads(p.stdout or "{}").get("streams", [{}])[0] if p.returncode == 0 else {}
    if p.returncode or p.stderr.strip() or not s or s.get("nb_frames") != s.get("nb_read_frames") \
            or int(s.get("nb_read_frames", 0)) == 0:
        bad.append(os.path.basename(c))
fd_spread = max(fds[1:] or fds) - min(fds[1:] or fds)
warm = [(m, r) for m, r in zip(mins, rss) if m >= 5]
growth = (warm[-1][1] - warm[0][1]) / 1024 * 60 / max(1, warm[-1][0] - warm[0][0]) if len(warm) > 1 else 0.0
starts = [float(m.group(1)) for m in re.finditer(r"^\s*(\d+\.\d+) camwarden.capture: clip due", log, re.M)]
gaps = [b - a for a, b in zip(starts, starts[1:])]
if gaps:
    print(f"spacing of due times: mean {sum(gaps) / len(gaps):.4f} s, min {min(gaps):.4f}, "
          f"max {max(gaps):.4f}; drift over {len(gaps)} intervals "
          f"{(starts[-1] - starts[0] - 10 * len(gaps)) * 1000:+.0f} ms")
print(f"clips due {due}, files {len(clips)}, unplayable {len(bad)} {bad[:5]}")
syncs = sorted(float(x) for x in re.findall(r"put on disk in ([\d.]+) ms", log))
if syncs:
    print(f"putting a finished clip on disk: median {syncs[len(syncs) // 2]:.1f} ms, "
          f"max {syncs[-1]:.1f} ms over {len(syncs)} clips")
print(f"failures logged: {len(failed)} {failed[:3]}")
print(f"descriptors: first {fds[0]}, min {min(fds)}, max {max(fds)}, spread after the first clip {fd_spread} (target <= 2)")
print(f"resident memory: start {rss[0] / 1024:.1f} MB, end {rss[-1] / 1024:.1f} MB, "
      f"growth after minute 5: {growth:+.2f} MB/hour (target < 1)")
ok = not bad and not failed and len(clips) >= due - 1 and fd_spread <= 2 and (len(warm) < 2 or growth < 1)
print("verdict:", "targets met" if ok else "TARGET MISSED")
sys.exit(0 if ok or not check else 1)
PY
