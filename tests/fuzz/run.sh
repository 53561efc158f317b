#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz (clang, address and
# undefined-behaviour sanitizers), replays every kept regression input, then
# fuzzes each model for QEL_FUZZ_SECONDS (default 60) from the checked-in
# seeds. A crashing input is written to tests/fuzz/regressions/<model>/ (keep
# it there: it becomes a regression case) and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${QEL_FUZZ_SECONDS:-60}
jobs=${QEL_FUZZ_JOBS:-4}
dir=build/fuzz
models=(velmor drakkun pestrel)

CC=clang CXX=clang++ cmake -S . -B "$dir" -DQEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$dir" -j "$jobs"

# Every input must start from a fresh module: the reset has to know each
# table of the engine. Compare the static library's data symbols (less what
# the instrumentation adds) with the list the reset was written against.
known=$(grep -v '^#' tests/fuzz/reset_symbols.txt | sort -u)
for model in "${models[@]}"; do
  defined=$(nm -C --defined-only "$dir/models/$model/libqel_$model.a" | awk '$2 ~ /^[bBdDgGsS]$/' |
            cut -d' ' -f3- | grep -Ev '^(__unnamed_|__sancov|__odr_asan|___asan|typeinfo|vtable)' | sort -u)
  missing=$(comm -23 <(echo "$defined") <(echo "$known"))
  if [ -n "$missing" ]; then
    echo "tests/fuzz/reset.cpp does not reset these tables of $model:" >&2
    echo "$missing" >&2
    exit 1
  fi
done

status=0
for model in "${models[@]}"; do
  fuzzer=$dir/tests/fuzz/interface_fuzz_$model
  regressions=tests/fuzz/regressions/$model
  corpus=$dir/corpus/$model
  mkdir -p "$regressions" "$corpus"
  # Kept crash inputs first, every model's on every model: given files, the
  # fuzzer runs each once.
  if compgen -G "tests/fuzz/regressions/*/*" >/dev/null; then
    echo "== $model: replaying the regression inputs"
    "$fuzzer" tests/fuzz/regressions/*/* || { status=1; continue; }
  fi
  echo "== $model: fuzzing for ${seconds}s"
  "$fuzzer" "$corpus" tests/fuzz/corpus/$model -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$regressions/" -print_final_stats=1 || status=1
done
exit $status
