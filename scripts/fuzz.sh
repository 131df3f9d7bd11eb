#!/usr/bin/env bash
# fuzz.sh [seconds] [target...]: builds the libFuzzer targets with clang in
# build-fuzz and runs each (all of fuzz/*_fuzz.cpp unless named) for the
# given time, 30 s by default, as many at once as there are cores. Each
# starts from its committed seeds (fuzz/corpus/<target>) and what earlier
# runs in this build directory found (build-fuzz/corpus/<target>). Fails when
# a target crashes, leaks, hangs or runs out of memory; the input that did it
# is kept as build-fuzz/findings/<target>/crash-*, leak-*, timeout-* or oom-*.
# Needs root: the targets that open sockets do so in a network namespace of
# their own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${1:-30}
shift || true

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DVL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVL_FUZZ=ON \
  -DVL_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Writes the target's outcome to build-fuzz/findings/<name>.result.
run_target() {
  local target=$1 name=${1%_fuzz}
  local corpus=$build/corpus/$name findings=$build/findings/$name log=$build/findings/$name.log
  mkdir -p "$corpus" "$findings"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=12288
                 -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "$root/fuzz/dict/$name.dict" ] && options+=(-dict="$root/fuzz/dict/$name.dict")
  if "$build/fuzz/$target" "${options[@]}" "$corpus" "$root/fuzz/corpus/$name" >"$log" 2>&1; then
    echo "$target: $(awk '/^stat::number_of_executed_units/ {print $2}' "$log") runs, no findings" \
      >"$build/findings/$name.result"
  else
    { echo "$target: FAILED, see $log and $findings/"
      grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz:)' "$log" | head -5; } >"$build/findings/$name.result"
  fi
}

mkdir -p "$build/findings"
for target in "${targets[@]}"; do
  rm -f "$build/findings/${target%_fuzz}.result"
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  run_target "$target" &
done
wait
failed=0
for target in "${targets[@]}"; do
  result=$build/findings/${target%_fuzz}.result
  if [ -f "$result" ]; then cat "$result"; else echo "$target: no result"; fi
  grep -q "no findings" "$result" 2>/dev/null || failed=1
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz: a target failed"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran for $seconds s each without findings"
