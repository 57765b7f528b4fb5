#!/usr/bin/env bash
# Takes the README's screenshot of the real program under Xvfb: the main window beside the help
# window that its Help button opens. packaging/make-screenshot.sh [BUILD_DIR] (default
# build/packaging, which must hold bin/tonvale and bin/Tonvale.chm); writes
# packaging/screenshot-main.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(realpath "${1:-$top/build/packaging}")/bin
out="$top/packaging/screenshot-main.png"

source "$top/scripts/test-env.sh"
shots=$(mktemp -d /tmp/tonvale-shot.XXXXXX)
pid=""
finish() {
  if [[ -n "$pid" ]]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$shots"
  tv_env_stop
}
trap finish EXIT

cd "$shots"
cp "$bin/Tonvale.chm" .
"$bin/tonvale" >"$shots/log" 2>&1 &
pid=$!
# --all: without it xdotool takes any window of the process, whatever its name.
main=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Tonvale$' | head -n1)
"$top/tests/packaging/press-button.py" "$pid" Help
help=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$pid" --name '^Tonvale Help' | head -n1)
sleep 1 # let both windows finish drawing
import -window "$main" main.png
import -window "$help" help.png
"$top/tests/packaging/press-button.py" "$pid" Quit
timeout 10 tail --pid="$pid" -f /dev/null
pid=""

# Side by side on a neutral background, 12 px apart.
w1=$(identify -format %w main.png)
h1=$(identify -format %h main.png)
w2=$(identify -format %w help.png)
h2=$(identify -format %h help.png)
width=$((12 + w1 + 12 + w2 + 12))
height=$((12 + (h1 > h2 ? h1 : h2) + 12))
convert -size "${width}x${height}" xc:'#d9d9d9' \
  main.png -geometry +12+12 -composite \
  help.png -geometry "+$((24 + w1))+12" -composite -strip "$out"
echo "$out"
