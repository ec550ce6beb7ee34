#!/usr/bin/env bash
# Times the repair of a clip of 1.2 GB (two RIFF segments) the muxer did not
# finish, cut mid-frame in its second segment: first with the file dropped
# from the page cache, then cut a little shorter and repaired again with the
# chunk headers cached. Frames of a webcam's size make many chunks, large
# pictures few. read_kib is what the cold repair read of the file: chunk
# headers and indexes only. Builds nothing: pass the build folder that holds
# bench/avi_repair_driver.
#
#   bench/avi_repair_bench.sh [BUILD_DIR]
#   AVI_BENCH_MB=1200    size of the clip
#   AVI_BENCH_DIR=/tmp   where to write it
set -euo pipefail

build=${1:-build}
driver=$build/bench/avi_repair_driver
[[ -x $driver ]] || { echo "no $driver: build the avi_repair_driver target first" >&2; exit 1; }
mb=${AVI_BENCH_MB:-1200}
tmp=$(mktemp -d "${AVI_BENCH_DIR:-${TMPDIR:-/tmp}}/avi-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
clip=$tmp/clip.avi
export QT_LOGGING_RULES="camwarden.*=false"

value() { sed -n "s/.*\<$1=\([^ ]*\).*/\1/p" "$tmp/$2"; }
# Writes the clip back and drops it from the page cache, so the repair reads the disk.
uncache() { sync "$clip" && dd if="$clip" iflag=nocache count=0 status=none; }
repair() {
  if ! "$driver" repair "$clip" >"$tmp/$1"; then cat "$tmp/$1" >&2; exit 1; fi
}

printf '%-10s %9s %7s %11s %8s %8s %9s\n' frame frame_kib frames file_mb cold_s warm_s read_kib
for picture in "320 240" "1920 1080"; do
  read -r w h <<<"$picture"
  "$driver" make "$clip" "$mb" "$w" "$h" >"$tmp/make"
  frame=$(value frame_bytes make)
  size=$(stat -c %s "$clip")
  truncate -s $((size - frame / 2)) "$clip"
  uncache
  repair cold
  truncate -s $((size - 5 * frame / 2)) "$clip"
  repair warm
  printf '%-10s %9d %7d %11.0f %8s %8s %9s\n' "${w}x$h" $((frame / 1024)) "$(value frames cold)" \
    "$(awk "BEGIN { print $size / 1e6 }")" "$(value seconds cold)" "$(value seconds warm)" \
    "$(value read_kib cold)"
  rm -f "$clip"
done
