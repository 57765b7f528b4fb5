# Sourced by the test command: starts what the tests need on a machine with no display and no sound
# card, exports how to reach it, and stops it all on exit.
#   - Xvfb (DISPLAY), chosen by the server itself;
#   - a D-Bus session bus, which the accessibility bus starts from (DBUS_SESSION_BUS_ADDRESS);
#   - a PulseAudio daemon with a null sink as the default output (PULSE_SERVER); ALSA's default
#     device reaches it through the pulse plugin, and so does PortAudio.
tv_env_dir=$(mktemp -d /tmp/tonvale-env.XXXXXX)
tv_env_pids=()

tv_env_stop() {
  local pid
  for pid in "${tv_env_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${tv_env_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$tv_env_dir"
}
trap tv_env_stop EXIT

# Display.
exec {tv_fd}<> <(:)
Xvfb -displayfd "$tv_fd" -screen 0 1280x1024x24 -nolisten tcp >"$tv_env_dir/xvfb.log" 2>&1 &
tv_env_pids+=($!)
read -r -t 10 -u "$tv_fd" tv_display || { echo "Xvfb did not start" >&2; cat "$tv_env_dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$tv_display"

# Session bus (the accessibility bus is started from it on demand).
export XDG_RUNTIME_DIR="$tv_env_dir/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$tv_env_dir/bus.addr" 4>"$tv_env_dir/bus.pid"
export DBUS_SESSION_BUS_ADDRESS=$(cat "$tv_env_dir/bus.addr")
tv_env_pids+=($(cat "$tv_env_dir/bus.pid"))
export NO_AT_BRIDGE=0

# Sound server with a null sink.
export TONVALE_TEST_SINK=tonvale_null
mkdir -p "$tv_env_dir/pulse"
export PULSE_RUNTIME_PATH="$tv_env_dir/pulse"
export PULSE_STATE_PATH="$tv_env_dir/pulse-state"
export PULSE_SERVER="unix:$tv_env_dir/pulse/native"
pulseaudio --system=false --exit-idle-time=-1 --disallow-exit=yes -n --realtime=no --high-priority=no \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$tv_env_dir/pulse/native" \
  --load="module-null-sink sink_name=$TONVALE_TEST_SINK rate=44100" \
  --log-target=file:"$tv_env_dir/pulse.log" &
tv_env_pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl set-default-sink "$TONVALE_TEST_SINK"
# An idle null sink sleeps in blocks of up to 2 s; a steady low-latency reader keeps it awake.
parec -d "$TONVALE_TEST_SINK.monitor" --latency-msec=10 --raw >/dev/null &
tv_env_pids+=($!)
pactl suspend-sink "$TONVALE_TEST_SINK" 1
pactl suspend-sink "$TONVALE_TEST_SINK" 0
