#!/usr/bin/env bash
# Live answer latency per sound server, side by side with the engine's floor (the same phrase
# answered offline, no devices), counting answers, underruns and gaps. Each server runs
# privately in a temporary folder with one stereo null device as the one sample clock: its left
# channel is the virtual microphone, its right the virtual loudspeaker; its monitor is recorded.
# Latency is from the end of a phrase on the left to the first loud answer sample on the right.
# A gap is a run of 64 or more zero samples inside an answer with sound on both sides of it (a
# device that ran dry cuts the answer off mid-sound). Underruns are the app's own count after its streams started.
# Usage: bench/audio/live-latency.sh [BUILD_DIR] [SERVER...]   servers: pulseaudio pipewire jack
#        PHRASES=10 SPACING=10 (seconds from one phrase to the next) in the environment.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift || true
servers=("$@")
[ ${#servers[@]} -eq 0 ] && servers=(pulseaudio pipewire jack)
phrases=${PHRASES:-10}
spacing=${SPACING:-10}
here=$(pwd)
work=$(mktemp -d)
pids=()
# Each server runs in a subshell of its own, which stops what it started (by process id) on exit.
stop_started() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap 'stop_started; rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"

# The phrase: the sample's first sentence with a second of quiet after it.
sox resources/samples/hello-quibblers.wav "$work/phrase.wav" trim 0 5
"$build/quibblers" --mic "$work/phrase.wav" --speaker "$work/floor.wav" --no-analytics >/dev/null
echo "floor (offline, no devices):"
python3 - "$work/floor.wav" "$work/phrase.wav" <<'PY'
import sys
sys.path.insert(0, "bench/audio")
import latency
f, p = latency.read(sys.argv[1])[0], latency.read(sys.argv[2])[0]
print(f"  latency {(latency.segments(f, 5)[0][0] - latency.segments(p, 5)[0][1]) / latency.RATE:.3f} s")
PY

start_pulse_family() {  # $1: pulseaudio|pipewire; sets the environment for the clients
  local run="$work/$1/run"
  mkdir -p "$run" "$work/$1/home"
  chmod 700 "$run"
  export XDG_RUNTIME_DIR="$run" HOME="$work/$1/home" PULSE_SERVER="unix:$run/pulse/native"
  if [ "$1" = pulseaudio ]; then
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
      -L module-native-protocol-unix >"$work/$1/server.log" 2>&1 &
    pids+=($!)
  else
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$run/bus"
    dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork >"$work/$1/dbus.log" 2>&1 &
    pids+=($!)
    sleep 0.3
    pipewire >"$work/$1/server.log" 2>&1 &
    pids+=($!)
    sleep 0.3
    wireplumber >"$work/$1/wireplumber.log" 2>&1 &
    pids+=($!)
    pipewire -c "$here/tests/support/pipewire-pulse.conf" >"$work/$1/pulse.log" 2>&1 &
    pids+=($!)
  fi
  for _ in $(seq 100); do [ -S "$run/pulse/native" ] && pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl load-module module-null-sink sink_name=clock rate=44100 channels=2 format=s16le \
    sink_properties=device.description=Clock >/dev/null
  pactl load-module module-remap-sink sink_name=feed master=clock channels=1 \
    master_channel_map=front-left channel_map=mono sink_properties=device.description=MicFeed >/dev/null
  pactl load-module module-remap-sink sink_name=spk master=clock channels=1 \
    master_channel_map=front-right channel_map=mono sink_properties=device.description=Speaker >/dev/null
  pactl load-module module-remap-source source_name=mic master=clock.monitor channels=1 \
    master_channel_map=front-left channel_map=mono source_properties=device.description=Mic >/dev/null
}

run_pulse_family() {
  start_pulse_family "$1"
  parecord -d clock.monitor --rate=44100 --channels=2 --format=s16le --file-format=wav "$work/$1/clock.wav" &
  local recorder=$!
  pids+=($recorder)
  "$build/quibblers" --no-window --no-analytics --input-device mic --output-device spk >"$work/$1/app.log" 2>&1 &
  local app=$!
  pids+=($app)
  for _ in $(seq 100); do grep -q "listening on" "$work/$1/app.log" && break; sleep 0.1; done
  sleep 1
  for _ in $(seq "$phrases"); do
    paplay -d feed "$work/phrase.wav" &
    sleep "$spacing"
  done
  kill -INT "$app"
  wait "$app" || true
  kill -INT "$recorder"
  wait "$recorder" || true
  report "$1"
}

report() {
  local underruns
  underruns=$(sed -n -e 's/.*ran short of sound \([0-9]*\) times.*/\1/p' -e 's/.*ran short of sound once.*/1/p' \
    "$work/$1/app.log")
  echo "$1 (underruns after start: ${underruns:-0}):"
  python3 bench/audio/latency.py "$work/$1/clock.wav" "$work/phrase.wav" "$work/floor.wav" | sed 's/^/  /'
  if grep -v "listening on\|stopped" "$work/$1/app.log" | grep -q .; then
    sed 's/^/  app: /' "$work/$1/app.log" | grep -v "listening on"
  fi
}

run_jack() {
  local dir="$work/jack"
  mkdir -p "$dir"
  local loop="$build/tests/support/jack_loop"
  if ! command -v jackd >/dev/null || [ ! -x "$loop" ]; then
    echo "jack: skipped (jackd or $loop missing)"
    return
  fi
  # No PulseAudio to reach: the app takes JACK.
  export PULSE_SERVER="unix:$dir/none" JACK_DEFAULT_SERVER="qb-bench-$$"
  jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 44100 -p 1024 >"$dir/server.log" 2>&1 &
  pids+=($!)
  sleep 1
  "$build/quibblers" --no-window --no-analytics >"$dir/app.log" 2>&1 &
  local app=$!
  pids+=($app)
  for _ in $(seq 100); do grep -q "listening on" "$dir/app.log" && break; sleep 0.1; done
  sleep 1
  "$loop" "$work/phrase.wav" "$phrases" "$spacing" "$dir/clock.wav" >"$dir/loop.log" 2>&1 || cat "$dir/loop.log"
  kill -INT "$app"
  wait "$app" || true
  report jack
}

for server in "${servers[@]}"; do
  case $server in
    pulseaudio | pipewire)
      if command -v "$server" >/dev/null && { [ "$server" = pulseaudio ] || command -v wireplumber >/dev/null; }; then
        (trap stop_started EXIT; run_pulse_family "$server")
      else
        echo "$server: skipped (not installed)"
      fi
      ;;
    jack) (trap stop_started EXIT; run_jack) ;;
    *) echo "unknown server $server" >&2; exit 2 ;;
  esac
done
