#!/usr/bin/env bash
# How long a headless run waits for analytics after its answer, against collection servers that
# misbehave (silent, trickling, streaming an endless body), as a ratio of the 5 s it may wait.
# The peer is the same run against a port that refuses at once. Each run starts with sessions in
# the store, so its launch upload is still on its way when the answer is complete. Also prints
# each run's peak memory (the endless body must not fill it).
# Usage: bench/analytics/exit-wait-bench.sh [BUILD_DIR]   (default build/)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_DATA_HOME="$work/data"
sox resources/samples/hello-quibblers.wav "$work/mic.wav" trim 0 2

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
# Seconds and peak kilobytes of one headless run against SERVER.
run() {
  local t0 t1
  t0=$(now)
  /usr/bin/time -f %M -o "$work/rss" "$build/quibblers" --mic "$work/mic.wav" --speaker "$work/out.wav" \
    --collection-server "$1" >/dev/null 2>&1
  t1=$(now)
  echo "$(calc "$t1 - $t0") $(cat "$work/rss")"
}

run 127.0.0.1:9 >/dev/null  # leaves a session behind: every later run has a launch upload
read -r peer peer_rss < <(run 127.0.0.1:9)
printf 'refused at once (peer): %.2f s, %d MB\n' "$peer" $((peer_rss / 1024))
for mode in silent trickle endless; do
  rm -f "$work/port"
  python3 bench/analytics/hostile_server.py "$mode" "$work/port" &
  server_pid=$!
  while [ ! -s "$work/port" ]; do sleep 0.05; done
  read -r seconds rss < <(run "127.0.0.1:$(cat "$work/port")")
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
  wait_s=$(calc "$seconds - $peer")
  printf '%-8s server: waited %.2f s after the answer = %.2f of the 5 s allowed; %d MB peak\n' \
    "$mode" "$wait_s" "$(calc "$wait_s / 5")" $((rss / 1024))
done
