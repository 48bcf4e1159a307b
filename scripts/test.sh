#!/usr/bin/env bash
# Installs what is needed, builds everything under ASan and UBSan and runs the
# whole test suite. Tests run without a display (offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The Windows SimConnect loader cannot run here: check that it compiles for Windows.
x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only -Wall -Wextra -Werror -Isrc \
  $(pkg-config --cflags Qt6Core) src/simulator/msfs/SimConnectLoaderWindows.cpp \
  src/simulator/msfs/SimConnectLibrary.cpp
# The audio tests start their own JACK server; without one they must fail, not skip.
export VELK_REQUIRE_AUDIO_RIG=1
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=ON
cmake --build build-test
# Every parser's fuzz harness (clang, build-fuzz) on its seeds, then FUZZ_SECONDS each.
if [ "${CI:-}" = true ]; then export FUZZ_JOBS="${FUZZ_JOBS:-$(nproc)}"; fi
FUZZ_SECONDS="${FUZZ_SECONDS:-20}" bash scripts/fuzz.sh
cd build-test
ctest --output-on-failure -j "$(nproc)"
