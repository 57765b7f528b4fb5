# Sourced by private-desktop.sh and private-wayland.sh: a private session for one test.
#   private_session NAME MARKER_VARIABLE
# makes a private folder ($dir) whose path, exported as MARKER_VARIABLE, marks every process of the
# session; keeps the user's own session out (XDG folders of its own, none of the user's display,
# bus or sound server); and starts a D-Bus session bus, from which the accessibility bus starts on
# demand. Servers started with `start LOG COMMAND...` run in the foreground as the wrapper's own
# children with a parent-death signal (pids cannot be reused before we wait for them); at exit they
# are stopped, and any process still carrying the marker in its environment is killed. The servers'
# logs are shown when starting fails, and when the command fails if $session_logs_on_failure is 1.

start() { # start LOG COMMAND... : a server in the foreground, killed when the wrapper dies
  local log=$1
  shift
  setpriv --pdeathsig KILL -- "$@" >"$log" 2>&1 &
  pids+=($!)
}

# Processes of this session that are not our children (started by the bus, or left by the test).
strays() {
  local file pid
  for file in $(grep -lzxF "$marker" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${file#/proc/}
    pid=${pid%/environ}
    [[ $pid != "$$" && $pid != "$BASHPID" ]] && echo "$pid"
  done
}

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
  [[ $status -ne 0 && $session_logs_on_failure -eq 1 ]] && show_logs
  rm -rf "$dir"
  exit "$status"
}

fail() {
  echo "$session_name: $*" >&2
  show_logs
  exit 2
}

private_session() {
  session_name=$1
  dir=$(mktemp -d "/tmp/tonvale-${session_name#private-}.XXXXXX")
  marker="$2=$dir"
  export "$2=$dir"
  pids=()
  logs_shown=0
  : "${session_logs_on_failure:=0}"
  trap stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  # Nothing of the user's own session leaks in.
  unset WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS PULSE_SERVER PULSE_RUNTIME_PATH PIPEWIRE_REMOTE
  export XDG_RUNTIME_DIR="$dir/run"
  export XDG_CONFIG_HOME="$dir/config"
  export XDG_STATE_HOME="$dir/state"
  export XDG_CACHE_HOME="$dir/cache"
  # Nor the user's language: the program speaks its texts as they have always been (the C locale)
  # unless a test chooses a language itself.
  unset LC_ALL LC_MESSAGES LANGUAGE
  export LANG=C.UTF-8
  mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"

  # Session bus, in the foreground so that it stays our child.
  local bus_fd address
  mkfifo "$dir/bus"
  exec {bus_fd}<>"$dir/bus"
  start "$dir/bus.log" dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/run/bus" \
    --print-address="$bus_fd"
  read -r -t 30 -u "$bus_fd" address || fail "dbus-daemon did not start"
  exec {bus_fd}<&-
  export DBUS_SESSION_BUS_ADDRESS=$address
  export NO_AT_BRIDGE=0
}
