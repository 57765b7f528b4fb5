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
# Nothing of the machine's own goes: on a desktop, a sound server of the wrong kind would replace
# the desktop's (PulseAudio and PipeWire's pulse server conflict), and apt would take the desktop
# with it. Ask apt first, and stop if the installation would remove anything.
removed=$(apt-get -s install -y --no-install-recommends "${missing[@]}" | sed -n 's/^Remv \([^ ]*\).*/\1/p')
if [[ -n "$removed" ]]; then
  echo "deps.sh: installing ${missing[*]} would remove these packages:" >&2
  echo "$removed" | sed 's/^/  /' >&2
  echo "deps.sh: nothing was installed; install the packages by hand, or run this in a container or a virtual machine" >&2
  exit 1
fi
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
