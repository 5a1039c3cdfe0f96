#!/usr/bin/env bash
# Builds forkit's libFuzzer targets with clang (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# the seed corpus in fuzz/corpus, which is only read. Fails on the first
# input that breaks a target; that input is kept in the build folder and
# belongs in a regression test under tests/.
#
#   scripts/fuzz.sh [PRESET]        builds PRESET (default fuzz) and runs it
#   FUZZ_SECONDS=N                  seconds per target (default 30)
#
# Needs clang and libFuzzer (Debian: clang, libclang-rt-14-dev or the
# libclang-rt-dev of the installed clang).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-fuzz}
build=$PWD/build-$preset # the preset's binaryDir
seconds=${FUZZ_SECONDS:-30}

cmake --preset "$preset"
cmake --build --preset "$preset" -j"$(nproc)" --target text_file_fuzz copy_phase_fuzz

status=0
for target in text_file copy_phase; do
  # New inputs a run finds are kept here, for the next run to start from.
  found="$build/fuzz/$target-found"
  mkdir -p "$found"
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz/$target-" \
      "$found" "$PWD/fuzz/corpus/$target" 2>"$build/fuzz/$target.log"; then
    tail -n 40 "$build/fuzz/$target.log"
    echo "$target: an input broke it; see $build/fuzz/$target-crash-* (or leak-, timeout-)"
    status=1
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' \
      "$build/fuzz/$target.log" || true
  fi
done
exit $status
