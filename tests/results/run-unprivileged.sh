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
if [ -n "${LSAN_OPTIONS:-}" ]; then
    supp=$(printf '%s\n' "$LSAN_OPTIONS" | tr ':' '\n' | sed -n 's/^suppressions=//p' | head -n 1)
    if [ -n "$supp" ] && [ -f "$supp" ]; then
        cp "$supp" "$tmp/bin/lsan.supp"
        LSAN_OPTIONS=$(printf '%s' "$LSAN_OPTIONS" | sed "s|suppressions=[^:]*|suppressions=$tmp/bin/lsan.supp|")
        export LSAN_OPTIONS
    fi
fi
if [ -n "${TSAN_OPTIONS:-}" ]; then
    supp=$(printf '%s\n' "$TSAN_OPTIONS" | tr ':' '\n' | sed -n 's/^suppressions=//p' | head -n 1)
    if [ -n "$supp" ] && [ -f "$supp" ]; then
        cp "$supp" "$tmp/bin/tsan.supp"
        TSAN_OPTIONS=$(printf '%s' "$TSAN_OPTIONS" | sed "s|suppressions=[^:]*|suppressions=$tmp/bin/tsan.supp|")
        export TSAN_OPTIONS
    fi
fi
chown -R nobody:nogroup "$tmp"
chmod 755 "$tmp"
cd "$tmp"
TMPDIR="$tmp/tmp" setpriv --reuid=nobody --regid=nogroup --clear-groups "$program" "$@"
