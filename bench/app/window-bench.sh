#!/usr/bin/env bash
# The open window's running cost, as a user sees it: the app under Xvfb (software GL) with live
# sound from a private PulseAudio server, measured from /proc for the app process only.
#  - listening to a silent microphone: CPU seconds per wall second (goal <= 3 % of one core);
#  - answering the bundled sample, replayed into the microphone (speech every few seconds;
#    goal <= 12 %);
#  - resident memory a few seconds after launch (goal <= 100 MB).
# With a second program (e.g. a build of an earlier commit), the same figures for it and the
# ratios. Usage: bench/app/window-bench.sh [BUILD_DIR [PEER_PROGRAM]]   (default build/)
# SECONDS_PER_PHASE (default 20) sets the length of each measurement.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
peer=${2:-}
phase=${SECONDS_PER_PHASE:-20}
for tool in Xvfb xdotool pulseaudio paplay sox; do
  command -v "$tool" >/dev/null || { echo "window-bench: $tool is not installed" >&2; exit 1; }
done

. bench/app/desktop-rig.sh
start_desktop_rig 1280x1100 150

sample=resources/samples/hello-quibblers.wav
sox "$sample" "$sample" "$sample" "$sample" "$work/speech.wav"
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_mb() { awk '/^VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status"; }
threads() { awk '/^Threads/ { print $2 }' "/proc/$1/status"; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }

# Runs one phase of `phase` seconds; prints the share of one core.
cpu_share() {
  local pid=$1 c0 c1 t0 t1
  c0=$(cpu_ticks "$pid"); t0=$(date +%s.%N)
  sleep "$phase"
  c1=$(cpu_ticks "$pid"); t1=$(date +%s.%N)
  calc "($c1 - $c0) / $ticks / ($t1 - $t0)"
}

# Measures one program; prints "silence speech rss threads".
measure() {
  local program=$1 app feeder silence speech rss nthreads
  "$program" --collection-server 127.0.0.1:9 --input-device "Monitor of VirtualMic" \
    --output-device VirtualSpeaker >"$work/app.log" 2>&1 &
  app=$!
  pids+=("$app")
  for _ in $(seq 200); do
    xdotool search --name '^Quibblers$' >/dev/null 2>&1 && break
    kill -0 "$app" 2>/dev/null || { cat "$work/app.log" >&2; exit 1; }
    sleep 0.1
  done
  sleep 3
  rss=$(rss_mb "$app")
  nthreads=$(threads "$app")
  silence=$(cpu_share "$app")
  # The sample, over and over: a sentence every few seconds.
  paplay -d mic "$work/speech.wav" &
  feeder=$!
  pids+=("$feeder")
  speech=$(cpu_share "$app")
  kill "$feeder"; wait "$feeder" 2>/dev/null || true
  kill "$app"; wait "$app" 2>/dev/null || true
  echo "$silence $speech $rss $nthreads"
}

read -r silence speech rss nthreads < <(measure "$build/quibblers")
pct() { calc "$1 * 100"; }
printf 'listening to silence: %5.1f %% of one core (goal <= 3 %%)\n' "$(pct "$silence")"
printf 'answering speech:     %5.1f %% of one core (goal <= 12 %%)\n' "$(pct "$speech")"
printf 'resident after launch: %4d MB (goal <= 100 MB), %d threads\n' "$rss" "$nthreads"
if [ -n "$peer" ]; then
  read -r psilence pspeech prss pthreads < <(measure "$peer")
  printf 'peer %s: silence %.1f %%, speech %.1f %%, %d MB, %d threads\n' "$peer" \
    "$(pct "$psilence")" "$(pct "$pspeech")" "$prss" "$pthreads"
  printf 'this build / peer: silence %.2f, speech %.2f, memory %.2f\n' \
    "$(calc "$silence / $psilence")" "$(calc "$speech / $pspeech")" "$(calc "$rss / $prss")"
fi
