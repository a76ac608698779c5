#!/usr/bin/env bash
# Sets everything up, starts the SQL Server emulator with the sample shop database, exports it with
# the console agent into ./demo-out, lists the files, and stops the emulator.
set -euo pipefail
cd "$(dirname "$0")/.."

TABLOXA_NO_WIZARD=${TABLOXA_NO_WIZARD:-1} ./scripts/setup.sh

build=${TABLOXA_DEMO_BUILD:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABLOXA_TESTS=OFF -DTABLOXA_WIZARD=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target pellorin tabloxa-tdsemu

work=$(mktemp -d)
emulator_pid=""
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null && wait "$emulator_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The emulator prints its port alone on its first line; any free loopback port will do.
mkfifo "$work/port"
"$build/testing/tabloxa-tdsemu" --seed testing/demo/demo.sql --login sa:Tabloxa-1 >"$work/port" 2>"$work/emulator.log" &
emulator_pid=$!
read -r -t 30 port <"$work/port" || { echo "The emulator did not start:"; cat "$work/emulator.log"; exit 1; }
echo "SQL Server emulator listening on 127.0.0.1,$port"

rm -rf demo-out
set +e
"$build/src/pellorin" --host="127.0.0.1,$port" --user=sa --pswd=Tabloxa-1 --src=DemoShop --dest=demo-out \
    --inc_fnames --n_delim=1 --logfile="$PWD/demo-out.log"
status=$?
set -e
echo
echo "pellorin exited with status $status; the files in demo-out:"
ls -l demo-out
exit $status
