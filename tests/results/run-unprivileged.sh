#!/bin/sh
# Runs a test program as an ordinary user: root may write read-only files, so permission cases
# run as root could never fail. Without root, the program runs as it is.
set -eu
if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi
if ! setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$1"; then
    echo "run-unprivileged: nobody cannot run $1 (check the permissions of its directories)" >&2
    exit 1
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chown nobody:nogroup "$tmp"
TMPDIR=$tmp setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"
