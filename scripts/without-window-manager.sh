#!/usr/bin/env bash
# Runs a command on a display of its own with no window manager (and its own notification area and sound server),
# as on a bare X session: there the program places, focuses and iconifies its windows itself.
#   scripts/without-window-manager.sh <command> [arguments...]
set -uo pipefail
source "$(dirname "$0")/headless-rig.sh"
trap rig_stop EXIT
RIG_WINDOW_MANAGER=0 rig_start || exit 1
"$@"
