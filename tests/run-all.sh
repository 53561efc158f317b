#!/usr/bin/env bash
# Builds the three modules and every test twice, plainly and with address and
# undefined-behaviour sanitizers, and runs all tests of both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 4)
for variant in release sanitize; do
  dir=build/$variant
  flags=(-DCMAKE_BUILD_TYPE=Release)
  [ "$variant" = sanitize ] && flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_SANITIZE=ON)
  cmake -S . -B "$dir" "${flags[@]}"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
done

# The interface fuzzer (clang, libFuzzer): replays the kept crash inputs, then
# fuzzes each model for QEL_FUZZ_SECONDS (default 60).
bash tests/fuzz/run.sh
