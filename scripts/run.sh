#!/usr/bin/env bash
# Installs what is missing, builds Tonvale and starts it in the current working directory (where it
# keeps result.dat). Needs a desktop session (DISPLAY or WAYLAND_DISPLAY).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" "$top/build/release" -DTONVALE_BUILD_TESTS=OFF -DTONVALE_BUILD_BENCHMARKS=OFF \
  -DTONVALE_BUILD_SERVER=OFF
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Tonvale is built ($top/build/release/bin/tonvale) but there is no display to show it on." >&2
  exit 1
fi
exec "$top/build/release/bin/tonvale"
