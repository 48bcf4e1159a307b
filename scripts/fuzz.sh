#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang in build-fuzz and runs each on its
# seed corpus, then fuzzes each for a while.
#   scripts/fuzz.sh            every harness, FUZZ_SECONDS (default 20) each
#   scripts/fuzz.sh 600 fsd_packet
#                              one harness for ten minutes
# New inputs that libFuzzer finds go to build-fuzz/corpus/<name>/ (the
# committed seeds in fuzz/corpus/ stay as they are); crashes to
# build-fuzz/fuzz/<harness>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-${FUZZ_SECONDS:-20}}"
only="${2:-}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELK_BUILD_FUZZ=ON -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "${FUZZ_JOBS:-3}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for harness in build-fuzz/fuzz/fuzz_*/fuzz_*; do
  name="$(basename "$harness")"
  name="${name#fuzz_}"
  if [ -n "$only" ] && [ "$only" != "$name" ]; then continue; fi
  seeds="fuzz/corpus/$name"
  found="build-fuzz/corpus/$name"
  mkdir -p "$found"
  echo "== $name: seeds"
  (cd "$(dirname "$harness")" && "./$(basename "$harness")" -runs=0 "$OLDPWD/$seeds")
  echo "== $name: ${seconds}s"
  (cd "$(dirname "$harness")" && "./$(basename "$harness")" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=4096 -print_final_stats=1 "$OLDPWD/$found" "$OLDPWD/$seeds" 2>&1 | tail -n 12)
done
