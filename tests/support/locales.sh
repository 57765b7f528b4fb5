#!/usr/bin/env bash
# Makes the locales the language tests use (ja_JP, en_US and de_DE, UTF-8) with localedef into a
# folder of their own, once, and prints that folder: point LOCPATH at it. No root needed; a fresh
# Debian has only C and C.UTF-8, and the system's own locales are left alone. Safe to run from
# several tests at once: each locale is made aside and moved into place whole.
set -euo pipefail
dir=${TONVALE_LOCALE_CACHE:-$HOME/.cache/tonvale/locale}
mkdir -p "$dir"
for name in ja_JP en_US de_DE; do
  [[ -f $dir/$name.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES ]] && continue
  work=$(mktemp -d "$dir/.$name.XXXXXX")
  # localedef warns about the sources' own small faults (and exits 1 for warnings): the locale is
  # usable when its files are there.
  localedef -i "$name" -f UTF-8 "$work/$name.UTF-8" >/dev/null 2>&1 || true
  if [[ -f $work/$name.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES ]]; then
    mv -T "$work/$name.UTF-8" "$dir/$name.UTF-8" 2>/dev/null || true
  fi
  rm -rf "$work"
  [[ -f $dir/$name.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES ]] || { echo "locales.sh: cannot make $name.UTF-8" >&2; exit 1; }
done
echo "$dir"
