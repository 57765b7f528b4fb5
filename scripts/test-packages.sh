#!/usr/bin/env bash
# The package test: builds the Debian packages (scripts/package.sh), checks them (lintian, the
# desktop entry, the AppStream metadata, the manual pages, what each package holds), installs them
# into this machine with apt resolving their dependencies, runs the installed programs, then purges
# them and checks that nothing of them is left but the survey server's system user.
#
# It installs into the machine, as CI does, so it needs root; otherwise it says so and skips. The
# packages are purged on every way out, failures included. Runs the program on the display it is
# given, or in a private one (tests/support/private-desktop.sh).
#   scripts/test-packages.sh [BUILD_DIR [CMAKE_OPTIONS...]]     (default build/packaging)
# The options go to scripts/package.sh: the test command packages its plain build this way.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
started=$SECONDS

if [[ $(id -u) -ne 0 ]]; then
  echo "test-packages: SKIPPED: it installs the packages into this machine and needs root"
  exit 0
fi

if [[ -z "${DISPLAY:-}" ]]; then
  exec "$top/tests/support/private-desktop.sh" --no-sound -- "$0" "$@"
fi
dir=$(realpath -m "${1:-$top/build/packaging}")
shift || true
packages=(tonvale tonvale-survey)
service_user=tonvale-survey
state_dir=/var/lib/tonvale-survey
app_id=org.tonvale.Tonvale
# Where the programs and their pieces leave traces; a name with "tonvale" in it anywhere below these
# after the purge that was not there before is a leftover.
system_dirs=(/etc /usr /var /opt /srv /run)

log() { echo "== packages: $*"; }
fail() {
  echo "test-packages: FAILED: $*" >&2
  exit 1
}

work=$(mktemp -d /tmp/tonvale-packages.XXXXXX)
installed=0
tonvale_pid=""
server_pid=""

# The package's state for dpkg ("installed", "config-files", ...), or nothing when dpkg does not know it.
pkg_state() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true; }

# Purges what this test installed (the packages, and the dependencies apt brought in for them),
# whatever state they are in. Safe to call more than once.
purge_all() {
  local present=() p state
  for p in "${packages[@]}"; do
    state=$(pkg_state "$p")
    if [[ -n "$state" && "$state" != not-installed ]]; then present+=("$p"); fi
  done
  if [[ ${#present[@]} -gt 0 ]]; then
    DEBIAN_FRONTEND=noninteractive dpkg --purge "${present[@]}" >>"$work/purge.log" 2>&1 ||
      DEBIAN_FRONTEND=noninteractive dpkg --purge --force-all "${present[@]}" >>"$work/purge.log" 2>&1 ||
      echo "test-packages: could not purge ${present[*]}; see $work/purge.log" >&2
  fi
  if [[ -f "$work/before.pkgs" ]]; then
    dpkg-query -W -f='${db:Status-Status} ${Package}\n' | awk '$1 == "installed" {print $2}' |
      sort >"$work/after.pkgs"
    mapfile -t brought < <(comm -13 "$work/before.pkgs" "$work/after.pkgs")
    if [[ ${#brought[@]} -gt 0 ]]; then
      DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${brought[@]}" >>"$work/purge.log" 2>&1 ||
        echo "test-packages: could not remove the dependencies ${brought[*]}" >&2
    fi
  fi
}

cleanup() {
  local status=$?
  set +e
  if [[ -n "$tonvale_pid" ]]; then kill "$tonvale_pid" 2>/dev/null; wait "$tonvale_pid" 2>/dev/null; fi
  if [[ -n "$server_pid" ]]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
  if [[ $installed -eq 1 ]]; then purge_all; fi
  if [[ $status -eq 0 ]]; then
    rm -rf "$work"
  else
    echo "test-packages: logs kept in $work" >&2
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for p in "${packages[@]}"; do
  state=$(pkg_state "$p")
  if [[ -n "$state" && "$state" != not-installed ]]; then
    fail "$p is installed on this machine already; this test installs and purges it, so remove it first (apt-get purge $p)"
  fi
done

# --- build ---------------------------------------------------------------------------------------
log "building the packages in $dir"
timeout 3600 "$top/scripts/package.sh" "$dir" "$@" >"$work/build.log" 2>&1 || {
  tail -n 60 "$work/build.log" >&2
  fail "building the packages"
}
version=$(dpkg-parsechangelog -l "$top/packaging/changelog" -S Version)
arch=$(dpkg --print-architecture)
deb_tonvale="$dir/packages/tonvale_${version}_${arch}.deb"
deb_survey="$dir/packages/tonvale-survey_${version}_${arch}.deb"
[[ -f "$deb_tonvale" ]] || fail "no $deb_tonvale"
[[ -f "$deb_survey" ]] || fail "no $deb_survey"
for deb in "$deb_tonvale" "$deb_survey"; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done

# --- what the packages hold ----------------------------------------------------------------------
log "contents"
contents() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print substr($6, 2)}' | sed 's/ -> .*//' | sort; }
contents "$deb_tonvale" >"$work/tonvale.files"
contents "$deb_survey" >"$work/survey.files"
need() { # need LIST FILE...
  local list=$1 f
  shift
  for f in "$@"; do grep -qxF "$f" "$list" || fail "$(basename "$list" .files) lacks $f"; done
}
need "$work/tonvale.files" /usr/bin/tonvale /usr/share/tonvale/Tonvale.chm \
  /usr/share/tonvale/ja/Tonvale.chm /usr/share/tonvale/en/Tonvale.chm \
  /usr/share/locale/ja/LC_MESSAGES/tonvale.mo /usr/share/locale/en/LC_MESSAGES/tonvale.mo \
  /usr/share/applications/$app_id.desktop /usr/share/metainfo/$app_id.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/tonvale.svg /usr/share/man/man1/tonvale.1.gz \
  /usr/share/doc/tonvale/copyright /usr/share/doc/tonvale/changelog.gz
for size in 16 32 48 128; do
  need "$work/tonvale.files" /usr/share/icons/hicolor/${size}x${size}/apps/tonvale.png
done
need "$work/survey.files" /usr/bin/tonvale-survey /usr/lib/systemd/system/tonvale-survey.service \
  /etc/default/tonvale-survey \
  /usr/share/man/man8/tonvale-survey.8.gz /usr/share/doc/tonvale-survey/copyright \
  /usr/share/doc/tonvale-survey/changelog.gz
shared=$(comm -12 "$work/tonvale.files" "$work/survey.files")
[[ -z "$shared" ]] || fail "files in both packages: $shared"
# Everything the project installs is in one of the packages (an install rule the packaging does
# not know about would otherwise be lost silently).
DESTDIR="$work/all" cmake --install "$dir" >/dev/null
(cd "$work/all" && find . ! -type d | sed 's/^\.//' | sort) >"$work/all.files"
missing=$(sort -u "$work/tonvale.files" "$work/survey.files" | comm -23 "$work/all.files" -)
[[ -z "$missing" ]] || fail "installed by the project but in no package: $missing"

mkdir "$work/root"
dpkg-deb -x "$deb_tonvale" "$work/root"
dpkg-deb -x "$deb_survey" "$work/root"
for size in 16 32 48 128; do
  png="$work/root/usr/share/icons/hicolor/${size}x${size}/apps/tonvale.png"
  type=$(file -b "$png")
  [[ $type == "PNG image data, $size x $size,"* ]] || fail "$png: $type"
done

log "lintian"
lint_status=0
lintian --fail-on error --display-level '>=info' "$deb_tonvale" "$deb_survey" >"$work/lintian.log" 2>&1 ||
  lint_status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[[ $lint_status -eq 0 ]] || fail "lintian reports errors (above)"

log "desktop entry, AppStream metadata, manual pages, systemd unit"
desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop" >"$work/desktop.log" 2>&1 ||
  { cat "$work/desktop.log" >&2; fail "desktop-file-validate"; }
if grep -q 'error' "$work/desktop.log"; then cat "$work/desktop.log" >&2; fail "desktop-file-validate reports errors"; fi
appstreamcli validate-tree --no-net --explain "$work/root" || fail "appstreamcli validate-tree"
for page in "$work"/root/usr/share/man/man*/*.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || fail "$(basename "$page"): $warnings"
done

# --- install -------------------------------------------------------------------------------------
dpkg-query -W -f='${db:Status-Status} ${Package}\n' | awk '$1 == "installed" {print $2}' |
  sort >"$work/before.pkgs"
for d in $(cat "$work/tonvale.files" "$work/survey.files" | xargs -n1 dirname | sort -u); do
  while [[ "$d" != / ]]; do
    echo "$d"
    d=$(dirname "$d")
  done
done | sort -u >"$work/dirs"
existing_dirs() { while read -r d; do if [[ -d "$d" ]]; then echo "$d"; fi; done <"$work/dirs"; }
existing_dirs >"$work/dirs.before"
traces() { { find "${system_dirs[@]}" -xdev -iname '*tonvale*' 2>/dev/null || true; } | sort; }
traces >"$work/traces.before"
user_before=$(getent passwd "$service_user" || true)

log "installing with apt"
installed=1
apt_install() {
  DEBIAN_FRONTEND=noninteractive timeout 900 apt-get install -y -q --no-install-recommends \
    "$deb_tonvale" "$deb_survey" >>"$work/install.log" 2>&1
}
if ! apt_install; then
  # The machine's package lists may be missing or stale; fetch them once and try again.
  DEBIAN_FRONTEND=noninteractive timeout 600 apt-get update -qq >>"$work/install.log" 2>&1 || true
  apt_install || {
    tail -n 40 "$work/install.log" >&2
    fail "apt-get install"
  }
fi
for p in "${packages[@]}"; do
  [[ $(dpkg-query -W -f='${Status}' "$p") == "install ok installed" ]] || fail "$p is not installed"
done
for exe in /usr/bin/tonvale /usr/bin/tonvale-survey; do
  unresolved=$(ldd "$exe" | grep 'not found' || true)
  [[ -z "$unresolved" ]] || fail "$exe: $unresolved"
done

log "the survey server's user and unit"
entry=$(getent passwd "$service_user") || fail "no user $service_user"
IFS=: read -r _ _ uid _ _ home shell <<<"$entry"
[[ $uid -lt 1000 ]] || fail "$service_user is not a system user (uid $uid)"
[[ $shell == */nologin || $shell == /bin/false ]] || fail "$service_user has the shell $shell"
[[ $home == "$state_dir" ]] || fail "$service_user has the home $home"
[[ $(stat -c '%U %a' "$state_dir") == "$service_user 750" ]] || fail "$state_dir: $(stat -c '%U %a' "$state_dir")"
unit=/usr/lib/systemd/system/tonvale-survey.service
grep -qx "User=$service_user" "$unit" || fail "$unit does not run as $service_user"
SYSTEMD_LOG_LEVEL=err systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify $unit"
enabled=$(find /etc/systemd -name 'tonvale-survey.service' 2>/dev/null || true)
[[ -z "$enabled" ]] || fail "the service was enabled by the installation: $enabled"
if [[ -d /run/systemd/system ]]; then
  ! systemctl is-active --quiet tonvale-survey.service || fail "the service was started by the installation"
fi

# --- the installed program -----------------------------------------------------------------------
log "running the installed tonvale"
run=$(mktemp -d "$work/run.XXXXXX")
help_title=$(sed -n 's:.*<title>\(.*\)</title>.*:\1:p' "$top/help/index.htm" | head -n1)
(cd "$run" && exec /usr/bin/tonvale >"$work/tonvale.log" 2>&1) &
tonvale_pid=$!
# --all: without it xdotool takes any window of the process, whatever its name.
main_win=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$tonvale_pid" --name '^Tonvale$' | head -n1) || true
[[ -n "$main_win" ]] || { cat "$work/tonvale.log" >&2; fail "the main window did not appear"; }
timeout 30 "$top/tests/packaging/press-button.py" "$tonvale_pid" Help || fail "could not press Help"
help_win=$(timeout 20 xdotool search --all --sync --onlyvisible --pid "$tonvale_pid" \
  --name "^Tonvale Help - ${help_title}\$" | head -n1) || true
[[ -n "$help_win" ]] || {
  cat "$work/tonvale.log" >&2
  fail "no help window with the topic \"$help_title\" after Help"
}
# The run directory has no help file and /usr/bin none either: the topic came from the data directory.
[[ ! -e "$run/Tonvale.chm" && ! -e /usr/bin/Tonvale.chm ]] || fail "a stray Tonvale.chm"
timeout 30 "$top/tests/packaging/press-button.py" "$tonvale_pid" Quit || fail "could not press Quit"
timeout 30 tail --pid="$tonvale_pid" -f /dev/null || fail "tonvale did not end after Quit"
status=0
wait "$tonvale_pid" || status=$?
tonvale_pid=""
[[ $status -eq 0 ]] || { cat "$work/tonvale.log" >&2; fail "tonvale ended with status $status"; }
[[ -f "$run/result.dat" ]] || fail "no result.dat in the working directory"
expected=$(printf 'ff%.0s' $(seq 40); printf '00000000')
actual=$(od -An -v -tx1 "$run/result.dat" | tr -d ' \n')
[[ "$actual" == "$expected" ]] || fail "result.dat holds $actual"

# --- the installed server ------------------------------------------------------------------------
log "running the installed tonvale-survey as $service_user"
setpriv --reuid="$service_user" --regid="$service_user" --clear-groups \
  /usr/bin/tonvale-survey --port 0 --listen 127.0.0.1 --db "$state_dir/survey.db" \
  >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on .* port \([0-9][0-9]*\).*/\1/p' "$work/server.out")
  if [[ -n "$port" ]]; then break; fi
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -n "$port" ]] || { cat "$work/server.err" >&2; fail "tonvale-survey did not start"; }
code=$(curl -s --noproxy '*' -m 10 -o "$work/page.html" -w '%{http_code}' \
  "http://127.0.0.1:$port/Questionnaire/TonvaleDisp.asp")
[[ $code == 200 ]] || fail "the results page answered $code"
grep -qi '<html' "$work/page.html" || fail "the results page is not HTML"
code=$(curl -s --noproxy '*' -m 10 -o /dev/null -w '%{http_code}' -X GET --data-binary 'sex=x' \
  "http://127.0.0.1:$port/Questionnaire/TonvaleWrite.asp")
[[ $code == 400 ]] || fail "a malformed submission was answered $code"
kill -TERM "$server_pid"
timeout 20 tail --pid="$server_pid" -f /dev/null || fail "tonvale-survey did not stop on SIGTERM"
status=0
wait "$server_pid" || status=$?
server_pid=""
[[ $status -eq 0 ]] || fail "tonvale-survey ended with status $status"
[[ $(stat -c %U "$state_dir/survey.db") == "$service_user" ]] || fail "the database is not the service's"

# --- purge ---------------------------------------------------------------------------------------
log "purging"
purge_all
installed=0
for p in "${packages[@]}"; do
  state=$(pkg_state "$p")
  [[ -z "$state" || "$state" == not-installed ]] || fail "$p is still $state"
done
while read -r f; do
  [[ ! -e "$f" && ! -L "$f" ]] || fail "$f is left after the purge"
done < <(cat "$work/tonvale.files" "$work/survey.files")
existing_dirs >"$work/dirs.after"
left=$(comm -13 "$work/dirs.before" "$work/dirs.after")
[[ -z "$left" ]] || fail "directories left after the purge: $left"
traces >"$work/traces.after"
left=$(comm -13 "$work/traces.before" "$work/traces.after")
[[ -z "$left" ]] || fail "left after the purge: $left"
[[ ! -e "$state_dir" && ! -e /etc/tonvale-survey ]] || fail "the server's directories are left"
# Debian keeps a package's system user on purpose: files elsewhere may still carry its id.
getent passwd "$service_user" >/dev/null || fail "the system user $service_user was removed"
[[ -z "$user_before" || "$user_before" == "$(getent passwd "$service_user")" ]] ||
  fail "the system user $service_user changed"

log "passed in $((SECONDS - started)) s"
