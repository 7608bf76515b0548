# Headless test rig: a virtual X display with a window manager (openbox) and a system tray on it, and a PulseAudio
# server whose only sink is a null sink with a monitor we can record from. Source this file, call rig_start, and
# rig_stop when done (test.sh does it from an EXIT trap, so the rig goes away also when a test fails). Every process
# is stopped by its own PID. RIG_WINDOW_MANAGER=0 leaves the window manager out.

source "$(dirname "${BASH_SOURCE[0]}")/stop-pids.sh"

RIG_PIDS=()
RIG_DIR=""

rig_log() { printf 'rig: %s\n' "$*" >&2; }

rig_start() {
    RIG_DIR=$(mktemp -d /tmp/clavora-rig.XXXXXX)
    chmod 700 "$RIG_DIR"

    # X display. -noreset: without it the server resets when its last client leaves and undoes keyboard settings.
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset 5>"$RIG_DIR/display" 2>"$RIG_DIR/xvfb.log" &
    RIG_PIDS+=($!)
    for _ in $(seq 100); do
        [ -s "$RIG_DIR/display" ] && break
        sleep 0.1
    done
    if [ ! -s "$RIG_DIR/display" ]; then
        rig_log "Xvfb did not start"; cat "$RIG_DIR/xvfb.log" >&2; return 1
    fi
    export DISPLAY=":$(head -n1 "$RIG_DIR/display")"
    rig_log "X display $DISPLAY"

    # A window manager, so focus, stacking and the iconic state are those of a user's desktop. It is up once it has
    # put its check window on the root.
    if [ "${RIG_WINDOW_MANAGER:-1}" != 0 ]; then
        openbox --sm-disable --config-file "$(rig_openbox_config)" >"$RIG_DIR/openbox.log" 2>&1 &
        RIG_PIDS+=($!)
        for _ in $(seq 100); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
            sleep 0.1
        done
        if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
            rig_log "openbox did not start"; cat "$RIG_DIR/openbox.log" >&2; return 1
        fi
        rig_log "window manager openbox"
    fi

    # A notification area, so the tray icon has somewhere to go.
    trayer --edge bottom --align right --widthtype pixel --width 100 --height 24 >"$RIG_DIR/trayer.log" 2>&1 &
    RIG_PIDS+=($!)

    # Sound server with a null sink.
    export XDG_RUNTIME_DIR="$RIG_DIR/runtime"
    mkdir -p "$XDG_RUNTIME_DIR/pulse"
    chmod 700 "$XDG_RUNTIME_DIR"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
    pulseaudio --daemonize=no -n --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native" \
        -L "module-null-sink sink_name=testsink rate=48000" \
        >"$RIG_DIR/pulse.log" 2>&1 &
    RIG_PIDS+=($!)
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! pactl info >/dev/null 2>&1; then
        rig_log "PulseAudio did not start"; cat "$RIG_DIR/pulse.log" >&2; return 1
    fi
    pactl set-default-sink testsink >/dev/null 2>&1 || true

    # Keep the null sink running: it stalls for up to 2 s when the first stream starts otherwise.
    parec -d testsink.monitor --latency-msec=10 >/dev/null 2>&1 &
    RIG_PIDS+=($!)
    sleep 2
    rig_log "PulseAudio at $PULSE_SERVER, sink testsink"
}

# Openbox's own defaults, with no desktop pager or menus to load: one desktop, windows placed under the pointer's
# screen as a user's would be.
rig_openbox_config() {
    local config="$RIG_DIR/openbox-rc.xml"
    cat >"$config" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
</openbox_config>
XML
    printf '%s\n' "$config"
}

rig_stop() {
    # The last started first: the recorder and the sound server before the display their clients may still use.
    local reversed=() i
    for ((i = ${#RIG_PIDS[@]} - 1; i >= 0; i--)); do
        reversed+=("${RIG_PIDS[i]}")
    done
    stop_pids "${reversed[@]}"
    RIG_PIDS=()
    [ -n "$RIG_DIR" ] && rm -rf "$RIG_DIR"
    RIG_DIR=""
}
