#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (build-fuzz/) and runs them.
#   scripts/fuzz.sh                 every target for 60 s, one after the other
#   scripts/fuzz.sh 300 keymap      one target for 300 s
# Each target grows a working corpus in build-fuzz/fuzz/corpus/<target>, seeded from tests/fuzz/corpus/<target>;
# an input that fails is written to build-fuzz/fuzz/artifacts/<target>/ and the script stops there. Add it to
# tests/fuzz/corpus/<target>/ once fixed, so the test suite keeps trying it.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:-60}
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    TARGETS=(keymap settings languagefile languagecodes versioninfo updatereply audiodecoder)
fi

CLAVORA_FUZZ=1 ./scripts/install-deps.sh
BUILD=${CLAVORA_FUZZ_BUILD_DIR:-build-fuzz}
LAUNCHER=()
if command -v ccache >/dev/null; then
    LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLAVORA_FUZZ=ON \
    -DCLAVORA_BUILD_BENCH=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" --target fuzzers -j "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in "${TARGETS[@]}"; do
    corpus="$BUILD/fuzz/corpus/$target"
    artifacts="$BUILD/fuzz/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    echo "== $target: $SECONDS_PER_TARGET s"
    "$BUILD/fuzz/${target}_fuzzer" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "tests/fuzz/corpus/$target"
done
