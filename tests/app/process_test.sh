#!/usr/bin/env bash
# Runs the real program in a fresh working directory and ends it as a user would: Quit writes the
# 44-byte result.dat, Escape writes nothing; either way the program exits with status 0. Help with
# no help file anywhere opens nothing and leaves the window working.
set -euo pipefail
built=$1
work=$(mktemp -d /tmp/tonvale-process.XXXXXX)
trap 'rm -rf "$work"' EXIT
# A copy with no Tonvale.chm beside it (and none installed where the program would look).
mkdir "$work/bin" "$work/cwd"
cp "$built" "$work/bin/tonvale"
tonvale="$work/bin/tonvale"
cd "$work/cwd"

# Starts the program, waits for its main window and gives it the keyboard focus.
start() {
  "$tonvale" >"$work/out.log" 2>&1 &
  pid=$!
  win=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Tonvale$' | head -n 1)
  [[ -n "$win" ]] || { echo "no main window"; cat "$work/out.log"; exit 1; }
  xdotool windowfocus --sync "$win"
  sleep 0.5
}

finish() {
  local status=0
  timeout 20 tail --pid="$pid" -f /dev/null || { echo "the program did not end"; kill "$pid"; exit 1; }
  wait "$pid" || status=$?
  [[ $status -eq 0 ]] || { echo "exit status $status"; cat "$work/out.log"; exit 1; }
}

visible_windows() {
  xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l
}

# Escape: no file.
start
xdotool key --clearmodifiers Escape
finish
[[ ! -e result.dat ]] || { echo "Escape wrote result.dat"; exit 1; }

# Help without a help file (Tab order: Quit, Range, Interval, Send, Show, Help): nothing opens.
start
before=$(visible_windows)
xdotool key --clearmodifiers Tab Tab Tab Tab Tab space
sleep 1
after=$(visible_windows)
[[ "$after" -eq "$before" ]] || { echo "Help opened a window without a help file ($before -> $after)"; exit 1; }
# Quit still works: back to it with Shift+Tab, then Return.
xdotool key --clearmodifiers shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab Return
finish
expected=$(printf 'ff%.0s' $(seq 40); printf '00000000')
actual=$(od -An -v -tx1 result.dat | tr -d ' \n')
[[ "$actual" == "$expected" ]] || { echo "result.dat is $actual"; exit 1; }
echo "Escape, Help without a help file, and Quit behaved"
