#!/usr/bin/env bash
# Runs the wizard on a virtual display (Xvfb) and saves a PNG of every page, of the two error
# dialogs and of the waiting window into docs/wizard/ (or the folder given), then step 3 again at
# one and a half times the font size, for the README.
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
cmake --build "$build" -j 2 --target drelk_shots tabloxa-tdsemu

# A home of its own, so that no remembered settings of this machine's user show up.
home=$(mktemp -d)
emulator_pid=
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null && wait "$emulator_pid" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT

# The pages show real data: the emulator serves the demo database, a little slowly, so that the
# progress page stays long enough for its picture, and a table big enough for its record line.
mkfifo "$home/port"
"$build/testing/tabloxa-tdsemu" --seed testing/demo/demo.sql --login sa:Tabloxa-1 --delay-ms 700 \
    --generate DemoShop.dbo.OrderHistory=500000 \
    >"$home/port" 2>"$home/emulator.log" &
emulator_pid=$!
read -r -t 30 port <"$home/port" || { echo "The emulator did not start:"; cat "$home/emulator.log"; exit 1; }
driver=$(ls /usr/lib/*/odbc/libtdsodbc.so | head -n 1)
printf '[FreeTDS]\nDriver=%s\n' "$driver" >"$home/odbcinst.ini"
mkdir -p "$home/.config/Quorvane"
printf '[Software\\Quorvane\\Tabloxa]\ndest=sz:%s\nhost=sz:127.0.0.1,%s\npswd=sz:Tabloxa-1\nsrc=sz:DemoShop\nuser=sz:sa\n' \
    "$home/out" "$port" >"$home/.config/Quorvane/Tabloxa.conf"
chmod 600 "$home/.config/Quorvane/Tabloxa.conf"
cp -p "$home/.config/Quorvane/Tabloxa.conf" "$home/start.conf"

shots() {
    env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        XDG_RUNTIME_DIR="$home" ODBCSYSINI="$home" ODBCINI="$home/odbc.ini" LC_ALL=C.UTF-8 \
        xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/drelk_shots" "$out" "$@"
}
shots
# The second run starts as the first did: the same settings, no folder written yet.
cp -p "$home/start.conf" "$home/.config/Quorvane/Tabloxa.conf"
rm -rf "$home/out"
shots --large-font
