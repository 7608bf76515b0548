#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless, end-to-end tests included.
#   ./test.sh                        the suite
#   CLAVORA_SANITIZE=1 ./test.sh     the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
#   CLAVORA_TSAN=1 ./test.sh         the audio engine's stress test under ThreadSanitizer (build-tsan/, audio_tests
#                                    only; CLAVORA_TSAN_TESTS picks other tests of audio_tests by regular expression)
#   CLAVORA_WERROR=1 ./test.sh       any of the above with compiler warnings as errors, as the continuous integration
#                                    builds
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
./scripts/check-format.sh

TARGETS=()
TESTS=()
if [ "${CLAVORA_SANITIZE:-0}" = 1 ]; then
    BUILD=${CLAVORA_BUILD_DIR:-build-asan}
    # The benchmarks are not run by the suite; the plain build keeps them compiling.
    OPTIONS=(-DCLAVORA_SANITIZE=ON -DCLAVORA_TSAN=OFF -DCLAVORA_BUILD_BENCH=OFF)
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
elif [ "${CLAVORA_TSAN:-0}" = 1 ]; then
    BUILD=${CLAVORA_BUILD_DIR:-build-tsan}
    OPTIONS=(-DCLAVORA_SANITIZE=OFF -DCLAVORA_TSAN=ON -DCLAVORA_BUILD_BENCH=OFF)
    TARGETS=(--target audio_tests)
    TESTS=(-R "${CLAVORA_TSAN_TESTS:-EngineStress}")
    export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
else
    BUILD=${CLAVORA_BUILD_DIR:-build}
    OPTIONS=(-DCLAVORA_SANITIZE=OFF -DCLAVORA_TSAN=OFF)
fi
if [ "${CLAVORA_WERROR:-0}" = 1 ]; then
    OPTIONS+=(-DCLAVORA_WERROR=ON)
else
    OPTIONS+=(-DCLAVORA_WERROR=OFF)
fi
LAUNCHER=()
if command -v ccache >/dev/null; then
    LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Paths below the checkout are hashed relative to it, so clones in other folders share the cache.
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${OPTIONS[@]}" "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" -j "$(nproc)" "${TARGETS[@]}"

source scripts/headless-rig.sh
source scripts/wayland-rig.sh
trap 'wayland_rig_stop; rig_stop' EXIT
rig_start
wayland_rig_start

ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" --timeout 300 "${TESTS[@]}"
