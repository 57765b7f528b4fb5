#!/usr/bin/env bash
# Fails when a C++ file is not formatted as .clang-format says. With --fix, formats them instead.
# The icon's XPM image data is left as drawn.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.h' '*.cpp' | grep -vx 'res/TonvaleIcon.cpp')
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format says"
