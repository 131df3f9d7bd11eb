#!/usr/bin/env bash
# Builds the release and the sanitizer configuration and runs every test in
# the first (the soak alone, for minutes) and all but the slow ones and the
# soak in the second, then the threaded tests under ThreadSanitizer, then
# every fuzz target for 30 s. Needs root: the system tests create network
# namespaces and start daemons.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

run_tests() {
  local dir=$1
  shift
  (cd "$root/$dir" && ctest -j "$jobs" --output-on-failure --timeout 600 "$@")
}

"$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_tests build -L 'unit|system|slow'

"$root/scripts/build.sh" build-asan -DCMAKE_BUILD_TYPE=Debug -DVL_SANITIZE=ON -DVL_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_tests build-asan -L 'unit|system' -E '^Soak\.'
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

# The threaded parts once more under ThreadSanitizer.
threaded="^($(grep -v '^#' "$root/tests/tsan_suites.txt" | paste -sd'|'))\\."
cmake -S "$root" -B "$root/build-tsan" -DVL_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DVL_TSAN=ON -DVL_BENCH=OFF >/dev/null
cmake --build "$root/build-tsan" -j "$jobs" --target vlsys_tests vlutil_tests vl_tests vlcodec_tests rtp_sw_tests rtp_sw_systests \
  generator_analyzer_tests vlipc_tests vlipc_systests vl_systests rtcp_systests linuxptp_tests sap_systests \
  rtaudioifc_systests streamer_systests streamerctl_systests system_systests
# Suppressions (tests/tsan.supp) cover uninstrumented third-party code only.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp
# One at a time: the in-process PTP responders answer within ptp4l's time
# limit only when ThreadSanitizer's cost is not doubled by a neighbour.
jobs=1 run_tests build-tsan -L "unit|system" -R "$threaded" -E '^JackDevice\.'
# The JACK device's tests run against a real-time JACK server whose periods
# the sanitizer's slowed client misses now and then (a stale timestamp, a
# late first callback): a test that fails there gets two more tries.
jobs=1 run_tests build-tsan -L "unit|system" -R '^JackDevice\.' --repeat until-pass:3
unset TSAN_OPTIONS

"$root/scripts/fuzz.sh" 30
echo "All tests passed in the release, sanitizer and thread-sanitizer configurations, and no fuzz target found anything."
