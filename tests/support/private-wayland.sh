#!/usr/bin/env bash
# Runs one test on a Wayland compositor of its own, with no X server:
#   - mutter, headless, as GNOME runs it (one virtual 1280x1024 monitor). It has no keyboard until
#     the first key is injected through its RemoteDesktop D-Bus interface, and until then no
#     window is active;
#   - weston, headless: no seat at all, so no keyboard and no pointer ever.
# Each gets a D-Bus session bus of its own, from which the accessibility bus starts on demand. No
# sound server: the program opens no sound until a check plays.
#
#   private-wayland.sh --compositor mutter|weston -- COMMAND [ARGS...]
#
# The test sees WAYLAND_DISPLAY, GDK_BACKEND=wayland, no DISPLAY, and TONVALE_TEST_COMPOSITOR.
# Its exit status is the wrapper's; on failure the servers' logs are shown. Everything started
# here dies with the wrapper: servers run as its children with a parent-death signal, and at the
# end any process still carrying this compositor's marker in its environment is killed.
set -uo pipefail

compositor=
while [[ $# -gt 0 ]]; do
  case $1 in
    --compositor) compositor=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [[ $# -eq 0 || ( $compositor != mutter && $compositor != weston ) ]]; then
  echo "usage: private-wayland.sh --compositor mutter|weston -- COMMAND [ARGS...]" >&2
  exit 2
fi

dir=$(mktemp -d /tmp/tonvale-wayland.XXXXXX)
marker="TONVALE_PRIVATE_WAYLAND=$dir"
export TONVALE_PRIVATE_WAYLAND=$dir
pids=()

start() { # start LOG COMMAND... : a server in the foreground, killed when the wrapper dies
  local log=$1
  shift
  setpriv --pdeathsig KILL -- "$@" >"$log" 2>&1 &
  pids+=($!)
}

# Processes of this session that are not our children (the accessibility bus, weston's clients,
# whatever the test left behind).
strays() {
  local file pid
  for file in $(grep -lzxF "$marker" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${file#/proc/}
    pid=${pid%/environ}
    [[ $pid != "$$" && $pid != "$BASHPID" ]] && echo "$pid"
  done
}

logs_shown=0
show_logs() {
  local log
  [[ $logs_shown -eq 1 ]] && return
  logs_shown=1
  for log in "$dir"/*.log; do echo "--- $log" >&2; tail -n 20 "$log" >&2; done
}

stop() {
  local status=$? pid _
  trap - EXIT INT TERM
  trap '' PIPE # a reader of the logs that has gone must not stop the clean-up
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for _ in $(seq 50); do
    local alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [[ $alive -eq 0 ]] && break
    sleep 0.05
  done
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  wait 2>/dev/null
  for pid in $(strays); do kill -KILL "$pid" 2>/dev/null; done
  [[ $status -ne 0 ]] && show_logs
  rm -rf "$dir"
  exit "$status"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "private-wayland: $*" >&2
  show_logs
  exit 2
}

# Nothing of the user's own session leaks in.
unset WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS PULSE_SERVER PIPEWIRE_REMOTE
export XDG_RUNTIME_DIR="$dir/run"
export XDG_CONFIG_HOME="$dir/config"
export XDG_STATE_HOME="$dir/state"
export XDG_CACHE_HOME="$dir/cache"
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"

# Session bus, in the foreground so that it stays our child.
mkfifo "$dir/bus"
exec {bus_fd}<>"$dir/bus"
start "$dir/bus.log" dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/run/bus" \
  --print-address="$bus_fd"
read -r -t 30 -u "$bus_fd" address || fail "dbus-daemon did not start"
exec {bus_fd}<&-
export DBUS_SESSION_BUS_ADDRESS=$address
export NO_AT_BRIDGE=0

has_owner() { # has_owner NAME: whether NAME is owned on the session bus
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

display=tonvale-$compositor
if [[ $compositor == mutter ]]; then
  start "$dir/mutter.log" mutter --wayland --headless --no-x11 --virtual-monitor 1280x1024 \
    --wayland-display "$display"
else
  # No idle timeout: the desktop shell would otherwise lock a quiet screen.
  start "$dir/weston.log" weston --backend=headless-backend.so --socket="$display" --idle-time=0
fi
# Up to 20 s: on a machine busy with builds the compositor starts slowly. Clients that connect
# once the socket is there are served as soon as its main loop runs. The tests drive mutter through
# its RemoteDesktop interface, so that must be on the bus as well.
ready=0
for _ in $(seq 800); do
  if [[ -S "$XDG_RUNTIME_DIR/$display" ]] &&
    { [[ $compositor != mutter ]] || has_owner org.gnome.Mutter.RemoteDesktop; }; then
    ready=1
    break
  fi
  kill -0 "${pids[-1]}" 2>/dev/null || fail "$compositor ended at start"
  sleep 0.025
done
[[ $ready -eq 1 ]] || fail "$compositor did not start"

export WAYLAND_DISPLAY=$display
export GDK_BACKEND=wayland
export TONVALE_TEST_COMPOSITOR=$compositor

# The test too dies with the wrapper.
setpriv --pdeathsig KILL -- "$@"
