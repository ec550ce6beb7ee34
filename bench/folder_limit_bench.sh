#!/usr/bin/env bash
# The folder size limit with a very full folder: 200,000 clips (small files),
# then a clip at a time as a long run adds them. Prints the first listing's
# time and the per-clip cost (target: under 5 ms per clip).
#   bench/folder_limit_bench.sh [BUILD_DIR]   FOLDER_BENCH_CLIPS=200000
set -euo pipefail
build=${1:-build}
driver=$build/bench/folder_limit_bench
[[ -x $driver ]] || { echo "no $driver: build the folder_limit_bench target first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$driver" "$work" "${FOLDER_BENCH_CLIPS:-200000}" "${FOLDER_BENCH_ROUNDS:-2000}"
