#!/usr/bin/env bash
# Installs every Debian package Clavora needs to build, run and test. Safe to run again: packages that are
# already installed are skipped, and nothing is fetched when everything is there. CLAVORA_FUZZ=1 adds the fuzzing
# tool chain.
set -euo pipefail

PACKAGES=(
    # toolchain
    build-essential cmake ninja-build pkg-config clang-format git ccache
    # the icon rendered from its drawing, and the Debian package with its checks: dpkg-shlibdeps, the desktop entry
    # and AppStream validators, the manual page formatter, lintian
    librsvg2-bin dpkg-dev desktop-file-utils appstream man-db groff-base gzip lintian
    # GUI
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-dejavu-core
    # audio
    libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libsdl2-dev libcanberra-dev libpulse-dev
    # the loudness of the bound sounds (EBU R128), for Even Out Loudness
    libebur128-dev
    # the system player's sound-server backend: through ALSA it can neither stop a sound nor share one connection
    libcanberra-pulse
    # online, text and locales
    libcurl4-openssl-dev libpcre2-dev libicu-dev libssl-dev libcpp-httplib-dev
    # X11 keyboard
    libx11-dev libxtst-dev libx11-xcb-dev libxcb1-dev libxcb-xkb-dev libxkbcommon-dev libxkbcommon-x11-dev libxkbregistry-dev libxi-dev
    # the keyboard on Wayland: the compositor's keymap through libwayland-client, and Qt's Wayland platform
    libwayland-dev qt6-wayland
    # thread priority through rtkit
    libdbus-1-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xdotool trayer openbox x11-xkb-utils x11-utils pulseaudio pulseaudio-utils ffmpeg sox util-linux
    # the audio engine's tests also run against PipeWire (with a session bus of their own)
    pipewire pipewire-pulse wireplumber dbus-daemon
    # the Wayland rig (scripts/wayland-rig.sh): a headless compositor, typing, screenshots, the desktop portal
    sway wtype grim xdg-desktop-portal
)
# The libFuzzer build (-DCLAVORA_FUZZ=ON, scripts/fuzz.sh) needs clang and its runtime libraries; only on request.
if [ "${CLAVORA_FUZZ:-0}" = 1 ]; then
    PACKAGES+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
