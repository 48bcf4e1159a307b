#!/usr/bin/env bash
# Installs what is needed, builds the client and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_TESTS=OFF
cmake --build build --target velk-client
exec ./build/bin/velk-client "$@"
