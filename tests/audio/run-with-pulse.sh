#!/usr/bin/env bash
# Runs a command against a private PulseAudio daemon whose only output is a
# null sink ("ospry_null"), so tests can play sound and capture it from the
# sink's monitor without touching any real sound server. Works as root (CI):
# the daemon runs per user (--system=no) with its runtime, state and home
# folders in a fresh temporary folder, and is stopped when the command ends.
set -euo pipefail
# Races inside uninstrumented system libraries (ThreadSanitizer builds only).
export TSAN_OPTIONS="${TSAN_OPTIONS:-} suppressions=$(dirname "$0")/tsan.supp"

dir=$(mktemp -d "${TMPDIR:-/tmp}/ospry-pulse.XXXXXX")
socket="$dir/native"
export HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" \
       PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state"
mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH" "$XDG_CONFIG_HOME"
unset DISPLAY DBUS_SESSION_BUS_ADDRESS

pulseaudio -n --system=no --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  --disable-shm=yes --log-target=file:"$dir/daemon.log" \
  -L "module-null-sink sink_name=ospry_null rate=44100 channels=2 norewinds=1" \
  -L "module-native-protocol-unix socket=$socket auth-anonymous=1" &
daemon=$!
cleanup() {
  kill "$daemon" 2>/dev/null || true
  wait "$daemon" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

export PULSE_SERVER="unix:$socket"
for _ in $(seq 1 100); do
  pactl info >/dev/null 2>&1 && break
  if ! kill -0 "$daemon" 2>/dev/null; then
    echo "pulseaudio did not start:" >&2; cat "$dir/daemon.log" >&2; exit 1
  fi
  sleep 0.1
done
pactl info >/dev/null || { echo "pulseaudio does not answer" >&2; cat "$dir/daemon.log" >&2; exit 1; }

export OSPRY_TEST_PULSE_MONITOR=ospry_null.monitor
"$@"
