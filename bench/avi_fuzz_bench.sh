#!/usr/bin/env bash
# Runs the repair's fuzz test far longer than CI does: AVI_FUZZ_RUNS damaged
# files for each seed, seeds counting up from AVI_FUZZ_SEED, until
# AVI_FUZZ_SECONDS have passed. Half the files are damaged where the muxer's
# structure lies, half as a power cut leaves them (a stretch zeroed, the
# file cut short, or both); for those it sums the whole frames kept against
# an independent count of the frames left whole. Pass a build folder that
# holds the tests; a sanitizer build (scripts/test --sanitize makes
# build-sanitize) also catches memory faults. Stops at the first failure,
# naming seed and run.
#
#   bench/avi_fuzz_bench.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
tests=$build/tests/storage/storage_avirepair_tests
[[ -x $tests ]] || { echo "no $tests: build the storage_avirepair_tests target first" >&2; exit 1; }
runs=${AVI_FUZZ_RUNS:-20000}
seconds=${AVI_FUZZ_SECONDS:-300}
seed=${AVI_FUZZ_SEED:-1}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
export QT_QPA_PLATFORM=offscreen

start=$SECONDS total=0 cut=0 kept=0 whole=0
while ((SECONDS - start < seconds)); do
  if ! AVI_FUZZ_SEED=$seed AVI_FUZZ_RUNS=$runs "$tests" \
      --gtest_filter='AviRepairTest.DamagedFiles*' >"$out" 2>&1; then
    cat "$out" >&2
    exit 1
  fi
  line=$(grep 'damaged files' "$out")
  echo "seed $seed: $line"
  read -r c k w < <(sed -E 's/.* ([0-9]+) zeroed or cut: ([0-9]+) frames kept, ([0-9]+) whole.*/\1 \2 \3/' <<<"$line")
  total=$((total + runs)) cut=$((cut + c)) kept=$((kept + k)) whole=$((whole + w)) seed=$((seed + 1))
done
echo "$total damaged files in $((SECONDS - start)) s, no failure; of $cut zeroed or cut," \
  "$kept whole frames kept where an independent count found $whole whole"
