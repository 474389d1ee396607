#!/usr/bin/env bash
# What recording the window costs, side by side in one run: the app under Xvfb at 1366 × 768
# (a 512 × 768 window, software GL) with live sound from a private PulseAudio server, answering
# the bundled sample replayed into the microphone throughout. Two phases of the same length:
#  - not recording: CPU of the app process;
#  - recording (R): CPU of the app process plus its encoder (ffmpeg) children;
# the difference is what recording adds (goal <= 20 % of one core), and the frames the encoder
# fell behind on, as the app reports them on saving (goal 0).
# Usage: bench/app/recording-bench.sh [BUILD_DIR]   (default build/)
# SECONDS_PER_PHASE (default 20) sets the length of each phase.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
phase=${SECONDS_PER_PHASE:-20}
for tool in Xvfb xdotool pulseaudio paplay sox ffmpeg; do
  command -v "$tool" >/dev/null || { echo "recording-bench: $tool is not installed" >&2; exit 1; }
done

. bench/app/desktop-rig.sh
start_desktop_rig 1366x768 250
echo "XDG_VIDEOS_DIR=\"$work/videos\"" >"$work/config/user-dirs.dirs"

sample=resources/samples/hello-quibblers.wav
sox "$sample" "$sample" "$sample" "$sample" "$sample" "$sample" "$work/speech.wav"
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
# CPU ticks of the app and of the children it has now.
family_ticks() {
  local total child
  total=$(cpu_ticks "$1")
  for child in $(pgrep -P "$1" || true); do total=$((total + $(cpu_ticks "$child"))); done
  echo "$total"
}
# One phase; prints the share of one core.
cpu_share() {
  local pid=$1 c0 c1 t0 t1
  c0=$(family_ticks "$pid"); t0=$(date +%s.%N)
  sleep "$phase"
  c1=$(family_ticks "$pid"); t1=$(date +%s.%N)
  calc "($c1 - $c0) / $ticks / ($t1 - $t0)"
}

"$build/quibblers" --no-analytics --input-device "Monitor of VirtualMic" --output-device VirtualSpeaker \
  >"$work/app.log" 2>&1 &
app=$!
pids+=("$app")
for _ in $(seq 200); do
  window=$(xdotool search --name '^Quibblers$' 2>/dev/null | head -1) && [ -n "$window" ] && break
  kill -0 "$app" 2>/dev/null || { cat "$work/app.log" >&2; exit 1; }
  sleep 0.1
done
sleep 3
paplay -d mic "$work/speech.wav" &
feeder=$!
pids+=("$feeder")
sleep 10  # past the first-launch hint
idle=$(cpu_share "$app")
xdotool windowfocus --sync "$window" key r
sleep 2  # the encoder starts
recording=$(cpu_share "$app")
xdotool windowfocus --sync "$window" key r
for _ in $(seq 300); do
  grep -q "recorded [0-9]* frames\|not saved" "$work/app.log" && break
  sleep 0.1
done
kill "$feeder"; wait "$feeder" 2>/dev/null || true
kill "$app"; wait "$app" 2>/dev/null || true

size=$(xdotool getwindowgeometry "$window" 2>/dev/null | awk '/Geometry/ { print $2 }' || true)
frames=$(sed -n 's/.*recorded \([0-9]*\) frames; \([0-9]*\) pictures dropped.*, \([0-9]*\) frames repeated.*/\1 \2 \3/p' "$work/app.log")
[ -n "$frames" ] || { echo "recording-bench: no recording was saved:" >&2; cat "$work/app.log" >&2; exit 1; }
read -r written dropped repeated <<<"$frames"
pct() { calc "$1 * 100"; }
printf 'window (%s), answering speech, not recording: %5.1f %% of one core\n' "${size:-512x768}" "$(pct "$idle")"
printf 'the same, recording (app + encoder):            %5.1f %% of one core\n' "$(pct "$recording")"
printf 'recording adds %.1f %% of one core (goal <= 20 %%)\n' "$(pct "$(calc "$recording - $idle")")"
printf 'pictures dropped as the encoder fell behind: %d of %d frames (goal 0); %d frames repeated for late ticks\n' \
  "$dropped" "$written" "$repeated"
