#!/usr/bin/env bash
# Builds the Debian package from a fresh clone: installs what is missing, builds the program alone (no tests, no
# benchmarks) in its own build folder, and makes clavora_<version>_<arch>.deb there.
#   scripts/package.sh                                  makes build-package/clavora_<version>_<arch>.deb
#   CLAVORA_BUILD_DIR=DIR scripts/package.sh            the same in DIR
# Install the result with: sudo apt install ./build-package/clavora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

BUILD=${CLAVORA_BUILD_DIR:-build-package}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCLAVORA_BUILD_TESTS=OFF -DCLAVORA_BUILD_BENCH=OFF >/dev/null
# A package left from an earlier version would be taken for this one.
rm -f "$BUILD"/clavora_*.deb
cmake --build "$BUILD" -j "$(nproc)" --target package

deb=$(ls "$BUILD"/clavora_*.deb)
echo "Made $deb"
