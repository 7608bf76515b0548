#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless, end-to-end tests included.
#   ./test.sh                 the suite
#   CLAVORA_SANITIZE=1 ./test.sh   the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
./scripts/check-format.sh

if [ "${CLAVORA_SANITIZE:-0}" = 1 ]; then
    BUILD=${CLAVORA_BUILD_DIR:-build-asan}
    SANITIZE=ON
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
else
    BUILD=${CLAVORA_BUILD_DIR:-build}
    SANITIZE=OFF
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLAVORA_SANITIZE=$SANITIZE >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

source scripts/headless-rig.sh
trap rig_stop EXIT
rig_start

ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" --timeout 300
