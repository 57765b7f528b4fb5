#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, each once, in the build it needs:
#   - the plain build: the product as the Debian packages are built, the benchmarks (compiled, not
#     run), and the tests that the sanitizers would distort or cannot run (label `plain`);
#   - AddressSanitizer with UndefinedBehaviorSanitizer: every other test;
#   - ThreadSanitizer: the sound engine's and the survey server's tests (label `thread`);
#   - the Debian packages from the plain build: checked, installed, run and purged.
# Every test that needs a display or a sound server starts its own (tests/support/private-desktop.sh),
# so tests run side by side, and nothing here touches the user's own session. The plain build's
# tests and the package test, which mostly wait on real-time tones and on apt, run beside the
# sanitizer builds and tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
budget=600
"$top/scripts/deps.sh" test packaging
# PipeWire's ALSA plugin, for the tests that play as a GNOME desktop does: fetched once, now, rather
# than by the first test that needs it (apt's package lists may need refreshing first).
if ! "$top/tests/support/pipewire-alsa.sh" >/dev/null 2>&1; then
  as_root=()
  [[ $(id -u) -eq 0 ]] || as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  "$top/tests/support/pipewire-alsa.sh" >/dev/null
fi

# The locales the language tests use, made once here rather than by several tests at once.
"$top/tests/support/locales.sh" >/dev/null

supp="$top/tests/support"
# Most GUI and audio tests sleep through real-time tones: more at once than there are cores.
jobs=$(($(nproc) * 3))
results=$(mktemp -d /tmp/tonvale-tests.XXXXXX)
chmod 1777 "$results" # the permission tests write their reports as another user
declare -A background=()
cleanup() {
  local pid
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$results"
}
trap cleanup EXIT

# A build that runs beside tests takes only what they leave of the processor, so that tones, windows
# and the survey server's idle-priority page thread keep their timing.
beside_tests=(chrt --idle 0)
"${beside_tests[@]}" true 2>/dev/null || beside_tests=(nice -n 19)

# Runs a build with its output kept aside; when it fails, shows the end of what went wrong.
quietly() { # quietly LOG COMMAND...
  local log=$1 status=0
  shift
  "$@" >"$log" 2>&1 && return 0 || status=$?
  echo "-- failed ($status): $*" >&2
  { grep -E -A6 '(error|FAILED)' "$log" || cat "$log"; } | tail -n 80 >&2
  return $status
}

# Each stage says when it began, so that the whole can be kept within its budget.
stage() { echo "== $* ($((SECONDS / 60)) min $((SECONDS % 60)) s so far)"; }

# run_ctest NAME DIR [ARGS...]: runs ctest on one tree; NAME.counts gets "passed failed".
# GoogleTest writes a report per program, from which the skipped cases are counted at the end (CTest
# counts a program with a skipped case as passed).
run_ctest() {
  local name=$1 dir=$2 status=0
  shift 2
  mkdir -m 1777 "$results/$name"
  GTEST_OUTPUT="xml:$results/$name/" ctest --test-dir "$dir" --output-on-failure --no-tests=error "$@" \
    >"$results/$name.log" 2>&1 || status=$?
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$results/$name.log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    echo "$((BASH_REMATCH[2] - BASH_REMATCH[1])) ${BASH_REMATCH[1]}" >"$results/$name.counts"
  else
    echo "0 1" >"$results/$name.counts"
  fi
  return $status
}

passed=0
failed=0
skipped=0
failures=()
# Adds up what a finished part counted and shows its output.
report() { # report NAME STATUS
  local name=$1 status=$2 p f
  cat "$results/$name.log"
  read -r p f <"$results/$name.counts"
  passed=$((passed + p))
  failed=$((failed + f))
  [[ $status -eq 0 ]] || failures+=("$name")
}

# Parts that run beside the rest write their output to a log that is shown when they are done.
start_beside() { # start_beside NAME COMMAND...
  local name=$1
  shift
  (
    set +e
    "$@"
    echo $? >"$results/$name.status"
  ) >"$results/$name.beside.log" 2>&1 &
  background[$name]=$!
}
finish_beside() { # finish_beside NAME
  local name=$1
  wait "${background[$name]}" || true
  unset "background[$name]"
  cat "$results/$name.beside.log"
}

summary() {
  local n
  n=$(cat "$results"/*/*.xml 2>/dev/null | grep -c 'result="skipped"' || true)
  skipped=$((skipped + n))
  if [[ $n -gt 0 ]]; then
    echo "Skipped test cases:"
    grep -ho '<testcase name="[^"]*"[^>]*result="skipped"[^>]*classname="[^"]*"' "$results"/*/*.xml |
      sed 's/<testcase name="\([^"]*\)".*classname="\([^"]*\)"/  \2.\1/' | sort -u
  fi
  if [[ ${#failures[@]} -gt 0 ]]; then
    echo "Failed: ${failures[*]}"
  fi
  echo "tests: $passed passed, $skipped skipped, $failed failed"
  echo "time: $((SECONDS / 60)) min $((SECONDS % 60)) s of the $((budget / 60)) min budget"
}

stage "layers: no folder includes from one above it"
scripts/check-layers.sh
stage "format"
scripts/check-format.sh
stage "catalogs: every shown text in every language"
scripts/check-catalogs.py

stage "build: the product as packaged, the benchmarks, the plain build's tests"
plain_options=(-DTONVALE_BUILD_TESTS=ON -DTONVALE_TEST_SET=plain -DTONVALE_BUILD_BENCHMARKS=ON)
TONVALE_BUILD_ONLY=1 quietly "$results/plain-build.log" scripts/package.sh build/test "${plain_options[@]}"

# Beside the sanitizer trees: the plain build's tests, then the package test on the same tree.
plain_and_packages() {
  stage "test: plain build (real-time timing, complete listener runs, fuzzing)"
  local status=0
  run_ctest plain build/test -j 4 || status=$?
  echo $status >"$results/plain.status"
  stage "packages: checked, installed, run and purged"
  status=0
  scripts/test-packages.sh build/test "${plain_options[@]}" >"$results/packages.log" 2>&1 || status=$?
  if grep -q '^test-packages: SKIPPED' "$results/packages.log"; then
    echo "0 0" >"$results/packages.counts"
    echo "packages" >"$results/packages.skipped"
  else
    echo "$((status == 0 ? 1 : 0)) $((status == 0 ? 0 : 1))" >"$results/packages.counts"
  fi
  echo $status >"$results/packages.status"
  stage "plain build's tests and packages done"
}
start_beside plain_and_packages plain_and_packages

stage "build: every other test with AddressSanitizer and UndefinedBehaviorSanitizer"
quietly "$results/asan-build.log" "${beside_tests[@]}" scripts/build.sh build/asan \
  -DTONVALE_SANITIZE=address,undefined -DTONVALE_TEST_SET=sanitized -DTONVALE_BUILD_BENCHMARKS=OFF -DTONVALE_LINKER=mold

# Beside the AddressSanitizer tests, which mostly wait on tones and windows: the ThreadSanitizer
# tree is built. The survey server's tests, in both trees, run last and alone: the server's page
# thread takes only what the rest leaves of the processor, and the tests beside would leave it
# little.
thread_build() {
  stage "build: the sound engine and the survey server with ThreadSanitizer"
  local status=0
  # Only what its tests need: the tree exists for nothing else.
  TONVALE_TARGETS=tv_tests quietly "$results/tsan-build.log" "${beside_tests[@]}" scripts/build.sh build/tsan \
    -DTONVALE_SANITIZE=thread \
    -DTONVALE_BUILD_GUI=OFF -DTONVALE_TEST_SET=thread -DTONVALE_BUILD_BENCHMARKS=OFF -DTONVALE_LINKER=mold || status=$?
  echo $status >"$results/tsan-build.status"
  stage "ThreadSanitizer build done"
}
start_beside thread_build thread_build

export ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
stage "test: AddressSanitizer and UndefinedBehaviorSanitizer"
status=0
run_ctest asan build/asan -j "$jobs" -LE server || status=$?
report asan $status

stage "waiting for the plain build's tests and the package test"
finish_beside plain_and_packages
report plain "$(cat "$results/plain.status")"
report packages "$(cat "$results/packages.status")"
[[ ! -e "$results/packages.skipped" ]] || skipped=$((skipped + 1))

stage "test: the survey server with AddressSanitizer and UndefinedBehaviorSanitizer"
status=0
run_ctest asan-server build/asan -j "$jobs" -L server || status=$?
report asan-server $status
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

stage "test: ThreadSanitizer"
finish_beside thread_build >"$results/tsan-build.log"
if [[ $(cat "$results/tsan-build.status") -ne 0 ]]; then
  cat "$results/tsan-build.log"
  exit 1
fi
export TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
# The engine's real-audio and timing tests, then the server's: each set alone, as their timing needs.
status=0
run_ctest tsan build/tsan -j "$jobs" -L engine || status=$?
report tsan $status
status=0
run_ctest tsan-server build/tsan -j "$jobs" -L server || status=$?
report tsan-server $status
unset TSAN_OPTIONS

stage "done"
summary
[[ $failed -eq 0 && ${#failures[@]} -eq 0 ]] || exit 1
if [[ $(id -u) -eq 0 && $skipped -gt 0 ]]; then
  echo "FAILED: tests were skipped although this runs as root, where every test can run" >&2
  exit 1
fi
