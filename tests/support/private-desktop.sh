#!/usr/bin/env bash
# Runs one test in a desktop of its own, so that tests can run side by side and never touch the
# user's display, bus or sound server:
#   - a virtual display (Xvfb, DISPLAY);
#   - a D-Bus session bus, from which the accessibility bus starts on demand;
#   - a PipeWire sound server (with WirePlumber, and pipewire-pulse for PulseAudio clients such as
#     parec and pactl) whose graph runs at RATE, with a null sink as the default output. ALSA's
#     default device, which PortAudio plays to, reaches it through ALSA's pulse plugin, or with
#     --alsa pipewire through PipeWire's own plugin, as on a GNOME desktop (tests/support/
#     pipewire-alsa.sh finds or unpacks it).
#
#   private-desktop.sh [--rate HZ] [--alsa pulse|pipewire] [--no-sound] -- COMMAND [ARGS...]
#
# With TONVALE_DESKTOP_LOGS set, the servers' logs are shown when the command fails.
# The test sees TONVALE_TEST_SINK (the sink's name) and TONVALE_TEST_RATE. Its exit status is the
# wrapper's. Everything the wrapper starts is stopped when the command ends, whatever its outcome,
# and dies with the wrapper if the wrapper itself is killed (CTest's timeout sends SIGKILL): every
# server runs in the foreground as the wrapper's own child with a parent-death signal, and at the
# end any process still carrying this desktop's marker in its environment is killed too.
set -uo pipefail

rate=44100
alsa=pulse
sound=1
while [[ $# -gt 0 ]]; do
  case $1 in
    --rate) rate=$2; shift 2 ;;
    --alsa) alsa=$2; shift 2 ;;
    --no-sound) sound=0; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [[ $# -eq 0 ]]; then
  echo "usage: private-desktop.sh [--rate HZ] [--alsa pulse|pipewire] [--no-sound] -- COMMAND [ARGS...]" >&2
  exit 2
fi
case $alsa in
  pulse) ;;
  pipewire)
    plugin_dir=$("$(dirname "$0")/pipewire-alsa.sh") || exit 1 ;;
  *) echo "private-desktop.sh: --alsa takes pulse or pipewire" >&2; exit 2 ;;
esac

# Logs of a failed test only on request: most failures are the test's own.
session_logs_on_failure=0
[[ -n "${TONVALE_DESKTOP_LOGS:-}" ]] && session_logs_on_failure=1
source "$(dirname "$0")/private-session.sh"
private_session private-desktop TONVALE_PRIVATE_DESKTOP

# Display. Xvfb writes the display it chose to the pipe once it accepts connections.
mkfifo "$dir/display"
exec {display_fd}<>"$dir/display"
start "$dir/xvfb.log" Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp
# Up to 30 s: on a busy machine with many displays open, Xvfb probes its way to a free number slowly.
read -r -t 30 -u "$display_fd" number || fail "Xvfb did not start"
exec {display_fd}<&-
export DISPLAY=":$number"
export GDK_BACKEND=x11

if [[ $sound -eq 1 ]]; then
  export TONVALE_TEST_SINK=tonvale_null
  export TONVALE_TEST_RATE=$rate
  mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_CONFIG_HOME/alsa"
  # The graph's own clock at the sink's rate: with only the sink's rate set, the graph stays at
  # 48 kHz and every stream is resampled twice.
  cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/tonvale-test.conf" <<EOF
context.properties = {
    default.clock.rate = $rate
    default.clock.allowed-rates = [ $rate ]
}
context.objects = [
    { factory = adapter
      args = {
          factory.name = support.null-audio-sink
          node.name = $TONVALE_TEST_SINK
          node.description = "Tonvale test sink"
          media.class = Audio/Sink
          audio.position = [ FL FR ]
          audio.rate = $rate
          monitor.channel-volumes = true
          monitor.passthrough = true
      }
    }
]
EOF
  # ALSA's default device to the sound server, for this desktop's processes only.
  if [[ $alsa == pipewire ]]; then
    cat >"$XDG_CONFIG_HOME/alsa/asoundrc" <<EOF
pcm_type.pipewire { lib "$plugin_dir/libasound_module_pcm_pipewire.so" }
ctl_type.pipewire { lib "$plugin_dir/libasound_module_ctl_pipewire.so" }
pcm.!default { type pipewire playback_node "-1" capture_node "-1" }
ctl.!default { type pipewire }
EOF
  else
    printf 'pcm.!default pulse\nctl.!default pulse\n' >"$XDG_CONFIG_HOME/alsa/asoundrc"
  fi
  export PIPEWIRE_RUNTIME_DIR=$XDG_RUNTIME_DIR
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  # PipeWire raises its own data threads to real-time; its main threads (which carry a PulseAudio
  # client's samples into the graph) stay at nice -11, as on a desktop. Here they get a low
  # real-time priority where allowed, so that the builds and tests beside them, which a desktop
  # does not run, cannot starve the sound server and punch holes into what Tonvale played.
  rt=(chrt -f 1)
  "${rt[@]}" true 2>/dev/null || rt=()
  start "$dir/pipewire.log" "${rt[@]}" pipewire
  # The session manager and the pulse server give up at once if PipeWire is not listening yet.
  for _ in $(seq 400); do
    [[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]] && break
    sleep 0.025
  done
  [[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]] || fail "PipeWire did not start"
  start "$dir/wireplumber.log" wireplumber
  start "$dir/pipewire-pulse.log" "${rt[@]}" pipewire-pulse
  # Up to 10 s: on a machine busy with builds the three servers start slowly.
  ready=0
  for _ in $(seq 400); do
    if [[ "$(pactl get-default-sink 2>/dev/null)" == "$TONVALE_TEST_SINK" ]]; then
      ready=1
      break
    fi
    sleep 0.025
  done
  [[ $ready -eq 1 ]] || fail "the sound server did not offer $TONVALE_TEST_SINK as its default sink"
fi

# The test too dies with the wrapper; what it starts itself loses its display and sound server.
setpriv --pdeathsig KILL -- "$@"
