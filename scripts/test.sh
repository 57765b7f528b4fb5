#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once as built, once with AddressSanitizer
# and UndefinedBehaviorSanitizer, and the sound engine's tests once more with ThreadSanitizer.
# Starts (and stops) a virtual display, a session bus and a sound server for them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/deps.sh" test packaging

source "$top/scripts/test-env.sh"
supp="$top/tests/support"
jobs=$(nproc)
passed=0
# Runs ctest and adds its count of passed tests (set -e ends the script on any failure).
run_ctest() {
  local log
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  [[ $status -eq 0 ]] || { rm -f "$log"; exit "$status"; }
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${n:-0}))
  rm -f "$log"
}

# Each stage says how long it took, so that the whole stays within CI's time.
stage() { echo "== $* ($((SECONDS / 60)) min $((SECONDS % 60)) s so far)"; }

stage "layers: no folder includes from one above it"
scripts/check-layers.sh
stage "format"
scripts/check-format.sh

stage "build and test"
scripts/build.sh build/test
run_ctest --test-dir build/test --output-on-failure -j "$jobs"

stage "build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/build.sh build/asan -DTONVALE_SANITIZE=address,undefined -DTONVALE_BUILD_BENCHMARKS=OFF
ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1:abort_on_error=0" \
LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  run_ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE nosan

stage "build and test the sound engine and the survey server with ThreadSanitizer"
# Only what runs here: the rest was tested under the other two builds.
TONVALE_TARGETS=thread_checked scripts/build.sh build/tsan -DTONVALE_SANITIZE=thread -DTONVALE_BUILD_GUI=OFF -DTONVALE_BUILD_BENCHMARKS=OFF
TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1" \
  run_ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L engine
TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1" \
  run_ctest --test-dir build/tsan --output-on-failure -j "$jobs" -R '^server_(unit|e2e)_test$'

stage "build, install, run and purge the Debian packages"
scripts/test-packages.sh

stage "done"
echo "tests: $passed passed, 0 failed"
