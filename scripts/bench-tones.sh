#!/usr/bin/env bash
# Tones through the real sound path while 0, 1 and 2 cores are kept busy: not part of the tests.
#
#   scripts/bench-tones.sh [BUILD_DIR] [TONES]     (defaults: build/test, 60)
#
# Starts its own PulseAudio with a null sink at real-time priority, as a desktop runs its sound
# server (the test command's server runs without, and stays so), plays TONES 500 ms tones on a 1 s
# grid through PortAudio with the program's engine (bench/tone_bench.cpp) while plain shell loops
# keep cores busy, records the sink's monitor, and prints per load: tones whole (one segment,
# length within 10 ms of the quiet run's), tones in one piece but off in length, broken tones
# (holes, missing), phantom bursts (sound outside every tone), onset jitter (standard deviation
# against the 1 s grid), the tones the engine judged damaged and the broken ones it did not, and
# the engine's own counts. Then the CPU of
# a running engine with a silent voice (engine_bench). Run it on an otherwise quiet machine for
# figures worth comparing; the README's are from the machine it names.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/test}
tones=${2:-60}
bench="$build/bin/tone_bench"
[[ -x $bench ]] || { echo "build $bench first (cmake --build $build --target tone_bench)" >&2; exit 1; }

dir=$(mktemp -d /tmp/tonvale-bench.XXXXXX)
pids=()
busy=()
stop_busy() {
  local pid
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy=()
}
cleanup() {
  stop_busy
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT

sink=tonvale_bench
mkdir -p "$dir/pulse" "$dir/run"
chmod 700 "$dir/run"
export XDG_RUNTIME_DIR="$dir/run" PULSE_RUNTIME_PATH="$dir/pulse" PULSE_STATE_PATH="$dir/pulse-state"
export PULSE_SERVER="unix:$dir/pulse/native"
# Real-time as on a desktop: asked of the daemon, and enforced with chrt where the daemon's own
# request (RealtimeKit or RLIMIT_RTPRIO) is refused.
rt=(chrt -r 5)
"${rt[@]}" true 2>/dev/null || rt=()
"${rt[@]}" pulseaudio --system=false --exit-idle-time=-1 --disallow-exit=yes -n \
  --realtime=yes --high-priority=yes \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse/native" \
  --load="module-null-sink sink_name=$sink rate=44100" \
  --log-target=file:"$dir/pulse.log" &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl set-default-sink "$sink"
parec -d "$sink.monitor" --latency-msec=10 --raw >/dev/null &
pids+=($!)
pactl suspend-sink "$sink" 1
pactl suspend-sink "$sink" 0
echo "sound server threads (class, real-time priority): $(ps -L -o cls=,rtprio=,comm= -p "${pids[0]}" | sort | uniq -c | tr -s ' ' | paste -sd';')"
echo "$(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

reference=""
for load in 0 1 2; do
  for ((i = 0; i < load; i++)); do
    bash -c 'while :; do :; done' &
    busy+=($!)
  done
  parec -d "$sink.monitor" --rate=44100 --channels=1 --format=s16le --file-format=wav \
    "$dir/load$load.wav" &
  recorder=$!
  sleep 0.5
  "$bench" play "$tones" "$dir/load$load.log" 2>/dev/null
  sleep 0.5
  kill -INT "$recorder"
  wait "$recorder" 2>/dev/null || true
  stop_busy
  result=$("$bench" analyse "$dir/load$load.wav" "$dir/load$load.log" $reference)
  echo "cores busy: $load"
  echo "$result" | sed 's/^/  /'
  if [[ $load == 0 ]]; then
    reference=$(echo "$result" | sed -n 's/.*(median length \([0-9.]*\) ms.*/\1/p')
  fi
done

echo "running engine with a silent voice (PortAudio), CPU of one core:"
"$build/bin/engine_bench" --benchmark_filter=RunningEngine 2>/dev/null | grep -i running | sed 's/^/  /' || true
