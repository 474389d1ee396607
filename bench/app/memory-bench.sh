#!/usr/bin/env bash
# Peak memory of a long headless answer, against its peers: a 30-minute recording answered
# sound-only (goal: at most 120 MB, however long the recording), compared with the recording's
# own size and with sox shifting the same file an octave up in one pass.
# Usage: bench/app/memory-bench.sh [BUILD_DIR] [MINUTES]   (defaults: build/, 30)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
minutes=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"

sample=resources/samples/hello-quibblers.wav
seconds=$((minutes * 60))
sox "$sample" "$work/repeated.wav" repeat $((seconds / 20 + 1))
sox "$work/repeated.wav" -r 44100 -b 16 -c 1 "$work/long.wav" trim 0 "$seconds"
rm "$work/repeated.wav"
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }  # KiB

answer=$(peak "$build/quibblers" --mic "$work/long.wav" --speaker "$work/answer.wav" --collection-server 127.0.0.1:9)
short=$(peak "$build/quibblers" --mic "$sample" --speaker "$work/short.wav" --collection-server 127.0.0.1:9)
peer=$(peak sox "$work/long.wav" "$work/sox.wav" pitch 1200)
size=$(($(stat -c %s "$work/long.wav") / 1024))
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
printf 'answer %d min, sound only: peak %.1f MB (goal <= 120 MB: %s of it)\n' "$minutes" \
  "$(calc "$answer / 1024")" "$(calc "$answer / 1024 / 120")"
printf '  = %sx the recording itself (%.1f MB)\n' "$(calc "$answer / $size")" "$(calc "$size / 1024")"
printf '  = %sx the same answer of the 21 s sample (%.1f MB): growth with length\n' \
  "$(calc "$answer / $short")" "$(calc "$short / 1024")"
printf '  = %sx sox shifting the same file (%.1f MB)\n' "$(calc "$answer / $peer")" "$(calc "$peer / 1024")"
