#!/usr/bin/env bash
# Runs the real program in a fresh working directory and ends it as a user would: Quit writes the
# 44-byte result.dat, Escape writes nothing; either way the program exits with status 0.
set -euo pipefail
tonvale=$1
work=$(mktemp -d /tmp/tonvale-process.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Starts the program, waits for its main window and gives it the keyboard focus.
start() {
  "$tonvale" >"$work/out.log" 2>&1 &
  pid=$!
  win=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" --name '^Tonvale$' | head -n 1)
  [[ -n "$win" ]] || { echo "no main window"; cat "$work/out.log"; exit 1; }
  xdotool windowfocus --sync "$win"
  sleep 0.3
}

finish() {
  local status=0
  timeout 20 tail --pid="$pid" -f /dev/null || { echo "the program did not end"; kill "$pid"; exit 1; }
  wait "$pid" || status=$?
  [[ $status -eq 0 ]] || { echo "exit status $status"; cat "$work/out.log"; exit 1; }
}

# Escape: no file.
start
xdotool key --clearmodifiers Escape
finish
[[ ! -e result.dat ]] || { echo "Escape wrote result.dat"; exit 1; }

# Quit has the focus when the window opens: Return presses it.
start
xdotool key --clearmodifiers Return
finish
expected=$(printf 'ff%.0s' $(seq 40); printf '00000000')
actual=$(od -An -v -tx1 result.dat | tr -d ' \n')
[[ "$actual" == "$expected" ]] || { echo "result.dat is $actual"; exit 1; }
