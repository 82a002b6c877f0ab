#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for SECONDS
# (default 30) on its committed seeds (tests/fuzz/corpus/) and the inputs it
# found before (build-fuzz/corpus/), making fresh ones as it goes.
#
#   scripts/fuzz.sh [SECONDS] [TARGET ...]
#
# A crash or a broken promise stops the run; the input that caused it is left
# in build-fuzz/crashes/ (run the target with that file to reproduce it).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(arguments engine launcher_readers command_line)
scripts/deps.sh fuzz

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVANTLE_FUZZ=ON -DVANTLE_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"${JOBS:-2}" --target "${targets[@]/#/fuzz_}"

mkdir -p build-fuzz/crashes
passed=0
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  log=build-fuzz/fuzz_$t.log
  mkdir -p "$corpus"
  echo "== fuzz_$t, $seconds s"
  if ! "build-fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=30 -max_len=16384 \
    -artifact_prefix="build-fuzz/crashes/$t-" -print_final_stats=1 \
    "$corpus" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
    tail -n 40 "$log"
    for input in build-fuzz/crashes/"$t"-*; do
      [ -f "$input" ] || continue
      echo "input $input (first 512 bytes):"
      head -c 512 "$input" | od -A d -t x1
    done
    echo "fuzz_$t failed: the input is in build-fuzz/crashes/"
    echo "$passed passed, 1 failed"
    exit 1
  fi
  grep -E "^#[0-9]+[[:space:]]+DONE" "$log" | tail -n 1
  grep -E "stat::number_of_executed_units|stat::new_units_added" "$log"
  passed=$((passed + 1))
done
echo "$passed passed, 0 failed"
