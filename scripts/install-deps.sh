#!/usr/bin/env bash
# Installs every Debian 12 package the client, its tests and benchmarks need.
# Idempotent and non-interactive; run as root (or through sudo).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-multimedia-dev qt6-tools-dev-tools
  libqt6sql6-sqlite libqt6svg6 libqt6opengl6-dev libgl-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-templates qml6-module-qtquick-window qml6-module-qtqml
  qml6-module-qtqml-models qml6-module-qtqml-workerscript qml6-module-qtquick-dialogs
  libnng-dev libmsgpack-cxx-dev nlohmann-json3-dev libopus-dev portaudio19-dev
  libsoxr-dev libsdl2-dev libssl-dev
  libbenchmark-dev googletest
  xvfb xauth fonts-wqy-microhei
  # Notification sounds: Qt's default media back end needs these GStreamer plug-ins.
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # Push-to-talk's X11 input layer and its tests.
  libx11-dev libxi-dev xdotool
  # The end-to-end check also runs under a window manager that takes focus on click.
  openbox
  # Real audio in tests: JACK's dummy driver.
  jackd2
  # Fuzzing (libFuzzer) and the Windows cross compile check.
  clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
