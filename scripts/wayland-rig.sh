# Headless Wayland test rig: sway on its headless back end, as an unprivileged user (sway refuses root) in a runtime
# folder that user owns. Source this file, call wayland_rig_start, and wayland_rig_stop when done (test.sh does it
# from its EXIT trap, beside the X11 rig of headless-rig.sh). Every process is stopped by its own PID.
#
# The compositor's socket is not exported as WAYLAND_DISPLAY, so the rest of the suite keeps to the X display; the
# tests labelled "wayland" find it through:
#   CLAVORA_WAYLAND_RUNTIME   the runtime folder (the user's XDG_RUNTIME_DIR), owned by that user
#   CLAVORA_WAYLAND_DISPLAY   the socket's name in it (wayland-1)
#   CLAVORA_WAYLAND_SWAYSOCK  sway's IPC socket, for swaymsg
#   CLAVORA_WAYLAND_UID       the user the compositor runs as; programs under test run as that user too
# No XWayland: what runs there is a native Wayland client or nothing.

source "$(dirname "${BASH_SOURCE[0]}")/stop-pids.sh"

WAYLAND_RIG_PIDS=()
WAYLAND_RIG_DIR=""

wayland_rig_log() { printf 'wayland rig: %s\n' "$*" >&2; }

wayland_rig_start() {
    local user=${WAYLAND_RIG_USER:-nobody}
    local group
    group=$(id -gn "$user")
    WAYLAND_RIG_DIR=$(mktemp -d /tmp/clavora-wayland-rig.XXXXXX)
    chmod 700 "$WAYLAND_RIG_DIR"
    local runtime="$WAYLAND_RIG_DIR/runtime"
    mkdir -p "$runtime"
    chmod 700 "$runtime"
    # No borders or title bars: a window's content starts where swaymsg says the window is.
    cat >"$WAYLAND_RIG_DIR/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1280x1024 position 0 0
xwayland disable
default_border none
default_floating_border none
focus_on_window_activation focus
CONF
    chmod 644 "$WAYLAND_RIG_DIR/sway.conf"
    if [ "$(id -u)" -eq 0 ]; then
        chown "$user:$group" "$runtime"
        chmod 755 "$WAYLAND_RIG_DIR"
        setpriv --reuid="$user" --regid="$group" --clear-groups env -i PATH=/usr/bin:/bin \
            XDG_RUNTIME_DIR="$runtime" HOME="$runtime" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
            WLR_RENDERER=pixman sway -c "$WAYLAND_RIG_DIR/sway.conf" >"$WAYLAND_RIG_DIR/sway.log" 2>&1 &
    else
        user=$(id -un)
        env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$runtime" HOME="$runtime" WLR_BACKENDS=headless \
            WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$WAYLAND_RIG_DIR/sway.conf" \
            >"$WAYLAND_RIG_DIR/sway.log" 2>&1 &
    fi
    WAYLAND_RIG_PIDS+=($!)
    local socket=""
    for _ in $(seq 100); do
        socket=$(find "$runtime" -maxdepth 1 -name 'sway-ipc.*.sock' 2>/dev/null | head -n1)
        [ -S "$runtime/wayland-1" ] && [ -n "$socket" ] && break
        sleep 0.1
    done
    if [ ! -S "$runtime/wayland-1" ] || [ -z "$socket" ]; then
        wayland_rig_log "sway did not start"; cat "$WAYLAND_RIG_DIR/sway.log" >&2; return 1
    fi
    export CLAVORA_WAYLAND_RUNTIME="$runtime"
    export CLAVORA_WAYLAND_DISPLAY=wayland-1
    export CLAVORA_WAYLAND_SWAYSOCK="$socket"
    export CLAVORA_WAYLAND_UID
    CLAVORA_WAYLAND_UID=$(id -u "$user")
    wayland_rig_log "sway at $runtime/wayland-1 as $user"
}

wayland_rig_stop() {
    stop_pids "${WAYLAND_RIG_PIDS[@]}"
    WAYLAND_RIG_PIDS=()
    [ -n "$WAYLAND_RIG_DIR" ] && rm -rf "$WAYLAND_RIG_DIR"
    WAYLAND_RIG_DIR=""
    unset CLAVORA_WAYLAND_RUNTIME CLAVORA_WAYLAND_DISPLAY CLAVORA_WAYLAND_SWAYSOCK CLAVORA_WAYLAND_UID
}
