#!/usr/bin/env bash
# Tones through the real sound path while 0, 1 and 2 cores are kept busy: not part of the tests.
#
#   scripts/bench-tones.sh [BUILD_DIR] [TONES]     (defaults: build/test, 60)
#
# Runs in a desktop of its own (tests/support/private-desktop.sh): a PipeWire sound server with a
# null sink, at real-time priority as on a desktop (PipeWire asks for it itself; where that is
# refused its threads keep normal scheduling, which the figures then show). Plays TONES 500 ms tones
# on a 1 s grid through PortAudio with the program's engine (bench/tone_bench.cpp) while plain shell
# loops keep cores busy, records the sink's monitor, and prints per load: tones whole (one segment,
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

if [[ -z "${TONVALE_TEST_SINK:-}" ]]; then
  exec "$top/tests/support/private-desktop.sh" -- "$0" "$build" "$tones"
fi
sink=$TONVALE_TEST_SINK
dir=$(mktemp -d /tmp/tonvale-bench.XXXXXX)
busy=()
stop_busy() {
  local pid
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy=()
}
cleanup() {
  stop_busy
  rm -rf "$dir"
}
trap cleanup EXIT

for server in pipewire pipewire-pulse; do
  pid=$(pgrep -n -x "$server")
  echo "$server threads (class, real-time priority): $(ps -L -o cls=,rtprio=,comm= -p "$pid" | sort | uniq -c | tr -s ' ' | paste -sd';')"
done
echo "$(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

reference=""
for load in 0 1 2; do
  for ((i = 0; i < load; i++)); do
    bash -c 'while :; do :; done' &
    busy+=($!)
  done
  # Stereo, as the sink holds it (a mono recording is mixed down, and louder); the left channel
  # is measured.
  parec -d "$sink.monitor" --rate=44100 --channels=2 --format=s16le --file-format=wav \
    "$dir/load$load.stereo.wav" &
  recorder=$!
  sleep 0.5
  "$bench" play "$tones" "$dir/load$load.log" 2>/dev/null
  sleep 0.5
  kill -INT "$recorder"
  wait "$recorder" 2>/dev/null || true
  stop_busy
  sox "$dir/load$load.stereo.wav" "$dir/load$load.wav" remix 1
  result=$("$bench" analyse "$dir/load$load.wav" "$dir/load$load.log" $reference)
  echo "cores busy: $load"
  echo "$result" | sed 's/^/  /'
  if [[ $load == 0 ]]; then
    reference=$(echo "$result" | sed -n 's/.*(median length \([0-9.]*\) ms.*/\1/p')
  fi
done

echo "running engine with a silent voice (PortAudio), CPU of one core:"
"$build/bin/engine_bench" --benchmark_filter=RunningEngine 2>/dev/null | grep -i running | sed 's/^/  /' || true
