#!/usr/bin/env bash
# Runs the wizard on a virtual display (Xvfb) and saves a PNG of every page and of the two error
# dialogs into docs/wizard/ (or the folder given), for the README.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-docs/wizard}
build=${TABLOXA_SHOTS_BUILD:-build-shots}
command -v xvfb-run >/dev/null || ./scripts/setup.sh
if [ -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DTABLOXA_WIZARD=ON >/dev/null
else
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABLOXA_WIZARD=ON >/dev/null
fi
cmake --build "$build" -j 2 --target drelk_shots

# A home of its own, so that no remembered settings of this machine's user show up.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_RUNTIME_DIR="$home" LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/drelk_shots" "$out"
