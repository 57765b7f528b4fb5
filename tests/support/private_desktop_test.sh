#!/usr/bin/env bash
# The private desktop leaves nothing behind: after a test that passes, one that fails, one whose
# wrapper is killed outright, and one that CTest kills at its timeout, no process of that desktop
# is left (display, buses, sound server, and whatever the bus started).
#   private_desktop_test.sh WRAPPER
set -uo pipefail
wrapper=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# Live processes whose environment names the desktop DIR.
survivors() {
  local file pid state
  for file in $(grep -lzxF "TONVALE_PRIVATE_DESKTOP=$1" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${file#/proc/}
    pid=${pid%/environ}
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || continue
    [[ $state == Z ]] || echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
  done
}

# The command inside: notes its desktop, checks that the desktop is there, starts the
# accessibility bus (so that the session bus has children of its own), then does as told.
inner() { # inner NAME then...
  cat <<EOF
echo "\$TONVALE_PRIVATE_DESKTOP" >"$work/$1.dir"
xdpyinfo >/dev/null 2>&1 || exit 91
[[ "\$(pactl get-default-sink)" == "\$TONVALE_TEST_SINK" ]] || exit 92
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null || exit 93
ps -e -o pid= | while read -r p; do grep -qzxF "TONVALE_PRIVATE_DESKTOP=\$TONVALE_PRIVATE_DESKTOP" /proc/\$p/environ 2>/dev/null && echo \$p; done | wc -l >"$work/$1.count"
$2
EOF
}

# Waits up to 5 s for every process of the desktop named in NAME.dir to be gone.
expect_gone() {
  local name=$1 dir left
  dir=$(cat "$work/$name.dir" 2>/dev/null) || { fail "$name: the command never ran"; return; }
  [[ $(cat "$work/$name.count") -ge 5 ]] || fail "$name: only $(cat "$work/$name.count") processes in the desktop while it ran"
  for _ in $(seq 50); do
    left=$(survivors "$dir")
    [[ -z "$left" ]] && break
    sleep 0.1
  done
  [[ -z "$left" ]] || fail "$name: left running: $left"
}

# Passes, and fails with its own status.
for want in 0 3; do
  "$wrapper" -- bash -c "$(inner "exit$want" "exit $want")"
  status=$?
  [[ $status -eq $want ]] || fail "exit $want: the wrapper returned $status"
  expect_gone "exit$want"
done

# The wrapper killed outright.
"$wrapper" -- bash -c "$(inner killed "touch $work/killed.ready; sleep 300")" &
pid=$!
for _ in $(seq 200); do [[ -e "$work/killed.ready" ]] && break; sleep 0.05; done
[[ -e "$work/killed.ready" ]] || fail "killed: the command did not start"
kill -KILL "$pid"
wait "$pid" 2>/dev/null
expect_gone killed

# CTest's timeout.
mkdir "$work/ctest"
cat >"$work/ctest/CTestTestfile.cmake" <<EOF
add_test(timeout "$wrapper" "--" "bash" "-c" [==[$(inner timeout "sleep 300")]==])
set_tests_properties(timeout PROPERTIES TIMEOUT 8)
EOF
ctest --test-dir "$work/ctest" >"$work/ctest.log" 2>&1 && fail "ctest: the test was not stopped at its timeout"
grep -q Timeout "$work/ctest.log" || { cat "$work/ctest.log" >&2; fail "ctest: no timeout reported"; }
expect_gone timeout

[[ $failures -eq 0 ]] && echo "passed"
exit "$failures"
