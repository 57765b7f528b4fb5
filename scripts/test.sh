#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, each once, in the build it needs:
#   - the plain build: the product as the Debian packages are built, the benchmarks (compiled, not
#     run), and the tests that the sanitizers would distort (label `plain`);
#   - AddressSanitizer with UndefinedBehaviorSanitizer: every other test;
#   - ThreadSanitizer: the sound engine's and the survey server's tests (label `thread`);
#   - the Debian packages from the plain build: checked, installed, run and purged.
# Every test that needs a display or a sound server starts its own (tests/support/private-desktop.sh),
# so tests run side by side and nothing here touches the user's own session.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
budget=600
"$top/scripts/deps.sh" test packaging

supp="$top/tests/support"
cores=$(nproc)
# Most GUI and audio tests sleep through real-time tones: more at once than there are cores.
jobs=$((cores * 3))
results=$(mktemp -d /tmp/tonvale-tests.XXXXXX)
chmod 1777 "$results" # the permission tests write their reports as another user
trap 'rm -rf "$results"' EXIT
passed=0
skipped=0
failed=0

# Stages say how long they took, so that the whole stays within its budget.
stage_start=$SECONDS
stage() {
  local now=$SECONDS
  if [[ -n "${stage_name:-}" ]]; then
    echo "== $stage_name: $((now - stage_start)) s"
  fi
  stage_name=$*
  stage_start=$now
  [[ -z "$stage_name" ]] || echo "== $stage_name ($((now / 60)) min $((now % 60)) s so far)"
}

# Runs ctest on one tree and adds up its entries; GoogleTest writes a report per program, from
# which the skipped cases are counted (CTest counts a program with a skipped case as passed).
run_ctest() {
  local dir=$1 log
  shift
  log=$(mktemp)
  local status=0
  GTEST_OUTPUT="xml:$results/$(basename "$dir")/" ctest --test-dir "$dir" --output-on-failure \
    --no-tests=error "$@" 2>&1 | tee "$log" || status=$?
  local total failures
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2/p' "$log" | tail -n 1)
  failures=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of.*/\1/p' "$log" | tail -n 1)
  rm -f "$log"
  passed=$((passed + ${total:-0} - ${failures:-0}))
  failed=$((failed + ${failures:-0}))
  if [[ $status -ne 0 ]]; then
    summary
    exit "$status"
  fi
}

count_skipped() {
  local n
  n=$(cat "$results"/*/*.xml 2>/dev/null | grep -c 'result="skipped"' || true)
  if [[ $n -gt 0 ]]; then
    echo "Skipped test cases:"
    grep -ho '<testcase name="[^"]*"[^>]*result="skipped"[^>]*classname="[^"]*"' "$results"/*/*.xml |
      sed 's/<testcase name="\([^"]*\)".*classname="\([^"]*\)"/  \2.\1/' | sort -u
  fi
  skipped=$((skipped + n))
}

summary() {
  stage ""
  count_skipped
  echo "tests: $passed passed, $skipped skipped, $failed failed"
  echo "time: $((SECONDS / 60)) min $((SECONDS % 60)) s of the $((budget / 60)) min budget"
}

stage "layers: no folder includes from one above it"
scripts/check-layers.sh
stage "format"
scripts/check-format.sh

stage "build: the product as packaged, the benchmarks, the plain build's tests"
plain_options=(-DTONVALE_BUILD_TESTS=ON -DTONVALE_TEST_SET=plain -DTONVALE_BUILD_BENCHMARKS=ON)
scripts/package.sh build/test "${plain_options[@]}" >/dev/null

stage "build: every other test with AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/build.sh build/asan -DTONVALE_SANITIZE=address,undefined -DTONVALE_TEST_SET=sanitized \
  -DTONVALE_BUILD_BENCHMARKS=OFF -DTONVALE_LINKER=mold

stage "test: AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_ctest build/asan -j "$jobs"
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

stage "test: plain build (real-time timing, complete listener runs, fuzzing)"
run_ctest build/test -j "$jobs"

stage "build and test: the sound engine and the survey server with ThreadSanitizer"
scripts/build.sh build/tsan -DTONVALE_SANITIZE=thread -DTONVALE_BUILD_GUI=OFF -DTONVALE_TEST_SET=thread \
  -DTONVALE_BUILD_BENCHMARKS=OFF -DTONVALE_LINKER=mold
TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1" run_ctest build/tsan -j "$jobs"

stage "packages: checked, installed, run and purged"
packages_log=$(mktemp)
scripts/test-packages.sh build/test "${plain_options[@]}" | tee "$packages_log"
if grep -q '^test-packages: SKIPPED' "$packages_log"; then
  skipped=$((skipped + 1))
else
  passed=$((passed + 1))
fi
rm -f "$packages_log"

summary
if [[ $(id -u) -eq 0 && $skipped -gt 0 ]]; then
  echo "FAILED: tests were skipped although this runs as root, where every test can run" >&2
  exit 1
fi
