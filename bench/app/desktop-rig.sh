# Sourced by the window benchmarks: a private X server (Xvfb) and a private PulseAudio server with
# a virtual microphone (sink "mic", its monitor the source) and loudspeaker ("spk"), in a fresh
# folder $work that is removed, with everything started, on exit.
# Usage: start_desktop_rig SCREEN DISPLAY_BASE   (e.g. 1366x768 250); sets work, pids, DISPLAY.
start_desktop_rig() {
  work=$(mktemp -d)
  pids=()
  trap stop_desktop_rig EXIT
  local display=":$(($2 + $$ % 100))"
  Xvfb "$display" -screen 0 "$1x24" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  mkdir -p "$work/run" "$work/home" "$work/config" && chmod 700 "$work/run"
  export XDG_RUNTIME_DIR="$work/run" HOME="$work/home" PULSE_SERVER="unix:$work/run/pulse/native"
  export DISPLAY="$display" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
    -L module-native-protocol-unix \
    -L "module-null-sink sink_name=spk rate=44100 channels=1 format=s16le sink_properties=device.description=VirtualSpeaker" \
    -L "module-null-sink sink_name=mic rate=44100 channels=1 format=s16le sink_properties=device.description=VirtualMic" \
    >"$work/pulse.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    [ -S "$work/run/pulse/native" ] && xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
  done
}

stop_desktop_rig() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
