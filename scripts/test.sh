#!/usr/bin/env bash
# Installs what is needed, builds everything under ASan and UBSan and runs the
# whole test suite. Tests run without a display (offscreen platform). Every
# parser's fuzz harness runs first, on its seeds and then for FUZZ_SECONDS
# (20 by default) each, built with clang in build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${CI:-}" = true ]; then export FUZZ_JOBS="${FUZZ_JOBS:-$(nproc)}"; fi
FUZZ_SECONDS="${FUZZ_SECONDS:-20}" bash scripts/fuzz.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=ON
cmake --build build-test
cd build-test
ctest --output-on-failure -j "$(nproc)"
