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

session_logs_on_failure=1
source "$(dirname "$0")/private-session.sh"
private_session private-wayland TONVALE_PRIVATE_WAYLAND

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
