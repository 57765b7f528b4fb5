#!/usr/bin/env bash
# Installs the Debian packages that are not installed yet, from scripts/packages.d/base.txt (build
# and run) and from the further lists named as arguments: a group name (test, packaging) or a file.
# Quick when nothing is missing; uses sudo when not run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

lists=("$here/packages.d/base.txt")
for group in "$@"; do
  if [[ -f "$here/packages.d/$group.txt" ]]; then
    lists+=("$here/packages.d/$group.txt")
  else
    lists+=("$group")
  fi
done
mapfile -t wanted < <(cat "${lists[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
