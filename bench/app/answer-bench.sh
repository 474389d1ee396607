#!/usr/bin/env bash
# Headless answer benchmarks, as ratios against their peers:
#  - a 60-second recording rendered to MP4, against real time (target: at least 3x faster), and
#    against the same run writing only the loudspeaker WAV (the picture's share of the cost);
#  - launch to first frame, against the 0.5 s target, median of 5 fresh processes.
# Usage: bench/app/answer-bench.sh [BUILD_DIR]   (default build/)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"

sample=resources/samples/hello-quibblers.wav
sox "$sample" "$sample" "$sample" "$work/long.wav"
sox "$work/long.wav" "$work/minute.wav" trim 0 60
seconds=60

now() { date +%s.%N; }
t0=$(now)
"$build/quibblers" --mic "$work/minute.wav" --video "$work/minute.mp4" --speaker "$work/a.wav" \
  --collection-server 127.0.0.1:9 >/dev/null
t1=$(now)
"$build/quibblers" --mic "$work/minute.wav" --speaker "$work/b.wav" --collection-server 127.0.0.1:9 >/dev/null
t2=$(now)
calc() { awk "BEGIN { print $1 }"; }
video=$(calc "$t1 - $t0")
audio=$(calc "$t2 - $t1")
printf 'render 60 s to MP4: %.2f s = %.1fx faster than real time (target >= 3x)\n' "$video" "$(calc "$seconds / $video")"
printf 'same run, sound only: %.2f s; picture and video cost %.1fx the sound-only run\n' "$audio" "$(calc "$video / $audio")"

runs=()
for _ in 1 2 3 4 5; do
  runs+=("$("$build/bench/app/first_frame_bench" | sed -n 's/.*first_frame_s=\([0-9.]*\).*/\1/p')")
done
median=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 3p)
printf 'launch to first frame (median of 5): %.3f s = %.2f of the 0.5 s target\n' "$median" "$(calc "$median / 0.5")"
