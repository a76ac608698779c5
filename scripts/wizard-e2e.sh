#!/usr/bin/env bash
# Walks the whole wizard under Xvfb against the SQL Server emulator's demo database (connect,
# database and an existing folder, two tables and a query, the run, the finish page), saves the
# run's settings as a profile, repeats the run with the console agent from that profile, and
# compares the two folders of CSV files byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${TABLOXA_E2E_BUILD:-build-e2e}
command -v xvfb-run >/dev/null || ./scripts/setup.sh
if [ -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DTABLOXA_WIZARD=ON >/dev/null
else
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABLOXA_WIZARD=ON >/dev/null
fi
cmake --build "$build" -j 2 --target drelk_e2e pellorin tabloxa-tdsemu

home=$(mktemp -d)
emulator_pid=
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null && wait "$emulator_pid" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT

mkfifo "$home/port"
"$build/testing/tabloxa-tdsemu" --seed testing/demo/demo.sql --login sa:Tabloxa-1 \
    >"$home/port" 2>"$home/emulator.log" &
emulator_pid=$!
read -r -t 30 port <"$home/port" || { echo "The emulator did not start:"; cat "$home/emulator.log"; exit 1; }
driver=$(ls /usr/lib/*/odbc/libtdsodbc.so | head -n 1)
printf '[FreeTDS]\nDriver=%s\n' "$driver" >"$home/odbcinst.ini"
mkdir -p "$home/.config/Quorvane"
printf '[Software\\Quorvane\\Tabloxa]\ndest=sz:%s\nhost=sz:127.0.0.1,%s\npswd=sz:Tabloxa-1\nsrc=sz:DemoShop\nuser=sz:sa\n' \
    "$home/wizard" "$port" >"$home/.config/Quorvane/Tabloxa.conf"
chmod 600 "$home/.config/Quorvane/Tabloxa.conf"
# The folder exists with a file of an earlier run: the wizard asks, and overwrites the folder.
mkdir -p "$home/wizard"
echo stale >"$home/wizard/stale.csv"

env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_RUNTIME_DIR="$home" ODBCSYSINI="$home" ODBCINI="$home/odbc.ini" LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/drelk_e2e" "$home/run.kzt"

if [ -e "$home/wizard/stale.csv" ]; then
    echo "FAILED: the overwritten folder still holds stale.csv"
    exit 1
fi
[ "$(stat -c %a "$home/run.kzt")" = 600 ] || { echo "FAILED: the profile is readable by others"; exit 1; }

HOME="$home" ODBCSYSINI="$home" ODBCINI="$home/odbc.ini" LC_ALL=C.UTF-8 \
    "$build/src/pellorin" --profile="$home/run.kzt" --dest="$home/agent"

echo "Files of the wizard's run:"
(cd "$home/wizard" && ls -l)
if diff -r "$home/wizard" "$home/agent"; then
    echo "PASSED: the wizard's files are byte for byte the console agent's"
else
    echo "FAILED: the wizard's files differ from the console agent's"
    exit 1
fi
