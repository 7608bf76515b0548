#!/usr/bin/env bash
# Installs what is missing, builds, and starts Clavora from the build's program folder with its default sounds and
# bindings. Arguments are passed to the program (for example /auto).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target clavora clavora_data

exec ./build/program/clavora "$@"
