#!/bin/sh
# Runs a test program as an ordinary user: root may write read-only files, so permission cases
# run as root could never fail. Without root, the program runs as it is.
#
# The checkout may lie where that user cannot read (a clone under /root), so the program, and the
# suppressions a sanitizer build reads, are copied into a directory of the user's own first.
set -eu
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin" "$tmp/tmp"
program="$tmp/bin/$(basename "$1")"
cp "$1" "$program"
shift
# Points a sanitizer's options (LSAN_OPTIONS, TSAN_OPTIONS) at a copy of its suppressions file.
copy_suppressions() { # copy_suppressions VARIABLE FILE_NAME
    options=$(eval "printf '%s' \"\${$1:-}\"")
    [ -n "$options" ] || return 0
    supp=$(printf '%s\n' "$options" | tr ':' '\n' | sed -n 's/^suppressions=//p' | head -n 1)
    if [ -n "$supp" ] && [ -f "$supp" ]; then
        cp "$supp" "$tmp/bin/$2"
        eval "$1=\$(printf '%s' \"\$options\" | sed \"s|suppressions=[^:]*|suppressions=$tmp/bin/$2|\")"
        export "$1"
    fi
}
copy_suppressions LSAN_OPTIONS lsan.supp
copy_suppressions TSAN_OPTIONS tsan.supp
chown -R nobody:nogroup "$tmp"
chmod 755 "$tmp"
cd "$tmp"
TMPDIR="$tmp/tmp" setpriv --reuid=nobody --regid=nogroup --clear-groups "$program" "$@"
