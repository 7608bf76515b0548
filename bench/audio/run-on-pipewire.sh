#!/usr/bin/env bash
# Runs a command against a private PipeWire: a session bus, the daemon, its session manager and its PulseAudio
# interface in a runtime folder of their own, with a null sink "testsink" as the default sink and a recorder on its
# monitor (a new monitor stream would hold up the first sound otherwise). Everything is stopped by its PID at the end.
#   bench/audio/run-on-pipewire.sh build/bench/audio_bench --benchmark_filter=TimeToFirst
# SDL reaches it through SDL_AUDIODRIVER=pulseaudio (the PulseAudio interface) or pipewire (SDL's own driver).
set -euo pipefail

runtime=$(mktemp -d /tmp/clavora-pipewire.XXXXXX)
chmod 700 "$runtime"
pids=()
stop() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$runtime"
}
trap stop EXIT

export XDG_RUNTIME_DIR=$runtime PIPEWIRE_RUNTIME_DIR=$runtime
export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus
export PULSE_SERVER=unix:$runtime/pulse/native
# Run inside the headless rig, whose PulseAudio runtime folder would otherwise be taken for PipeWire's.
unset PULSE_RUNTIME_PATH
printf 'autospawn = no\n' >"$runtime/client.conf"
export PULSE_CLIENTCONFIG=$runtime/client.conf

dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >"$runtime/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$runtime/bus" ] && break; sleep 0.1; done
pipewire >"$runtime/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$runtime/pipewire-0" ] && break; sleep 0.1; done
# The session manager restores the volumes it saw for a program; a run of its own starts from none.
XDG_STATE_HOME=$runtime/state wireplumber >"$runtime/wireplumber.log" 2>&1 &
pids+=($!)
pipewire-pulse >"$runtime/pipewire-pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl load-module module-null-sink sink_name=testsink >/dev/null
pactl set-default-sink testsink
parec -d testsink.monitor --latency-msec=10 >/dev/null 2>&1 &
pids+=($!)
sleep 2
echo "PipeWire: $(pactl info | sed -n 's/^Server Name: //p')" >&2

"$@"
