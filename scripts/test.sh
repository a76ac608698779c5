#!/usr/bin/env bash
# Sets everything up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as
# errors, checks the Debian packages, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

build=${TABLOXA_TEST_BUILD:-build-test}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTABLOXA_SANITIZE=ON -DTABLOXA_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
# The Debian packages, from a Release build of their own, unpacked and checked (about a minute
# with a warm ccache, a few without).
if [ "${TABLOXA_PACKAGE_CHECK:-1}" != 0 ]; then
    ./scripts/package-check.sh
fi
cd "$build"
# Leaks are looked for everywhere, child programs included. The sanitizer's reading of the thread
# storage of libraries loaded and unloaded at run time (the ODBC drivers) crashes its leak check
# on this glibc, depending only on where a program's code happens to lie: it is not read.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:intercept_tls_get_addr=0}
ctest --output-on-failure -j "$jobs" --timeout 240 "$@"
