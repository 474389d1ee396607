#!/usr/bin/env bash
# How fast a termination signal ends a headless run that is blocked, against the 1 s target:
# opening a FIFO that has no writer, and writing frames to an encoder that stopped reading (a
# stand-in `ffmpeg` first on PATH). Median of 5 runs each, from the signal to the exit.
# Usage: bench/app/signal-bench.sh [BUILD_DIR]   (default build/)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
mkfifo "$work/fifo.wav"
mkdir "$work/bin"
printf '#!/bin/sh\nexec sleep 600\n' >"$work/bin/ffmpeg"
chmod +x "$work/bin/ffmpeg"
sample=resources/samples/hello-quibblers.wav

now() { date +%s.%N; }
# Starts the program with the given PATH prefix and arguments, signals it after 1 s, prints the
# seconds from the signal to its exit.
latency() {
  local path=$1
  shift
  PATH="$path:$PATH" "$build/quibblers" --collection-server 127.0.0.1:9 "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep 1
  local t0
  t0=$(now)
  kill -TERM "$pid"
  wait "$pid" || true
  awk "BEGIN { print $(now) - $t0 }"
}
median() { sort -n | sed -n 3p; }

fifo=$(for _ in 1 2 3 4 5; do latency "" --mic "$work/fifo.wav" --speaker "$work/a.wav"; done | median)
stalled=$(for _ in 1 2 3 4 5; do latency "$work/bin" --mic "$sample" --video "$work/a.mp4"; done | median)
printf 'SIGTERM while opening a FIFO:       %.3f s = %.2f of the 1 s target\n' "$fifo" "$fifo"
printf 'SIGTERM while the encoder stalls:   %.3f s = %.2f of the 1 s target\n' "$stalled" "$stalled"
