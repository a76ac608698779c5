#!/usr/bin/env bash
# Builds the Debian packages from a Release build (no tests, no sanitizers), unpacks them into a
# scratch folder and checks what a user gets: the programs start, the manual pages render without
# warnings, the wizard's manual, desktop entry, icon and metadata are in place, and lintian finds
# no errors. scripts/test.sh calls it; it expects scripts/setup.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${TABLOXA_PACKAGE_BUILD:-build-package}
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS

fail() {
    echo "package check: $*" >&2
    exit 1
}
# A step's output is shown only when it fails.
quiet() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { cat "$log"; fail "$* failed"; }
}

launcher=()
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Only what the packages hold is built: cpack's install step does not ask for the rest.
mkdir -p "$build"
quiet "$build/configure.log" cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABLOXA_TESTS=OFF \
    -DTABLOXA_SANITIZE=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}"
quiet "$build/build.log" cmake --build "$build" -j "$jobs" --target pellorin drelk tabloxa_install_files
rm -f "$build"/*.deb
quiet "$build/cpack.log" cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build"

agent_deb=$(ls "$build"/tabloxa_*.deb)
wizard_deb=$(ls "$build"/tabloxa-wizard_*.deb)
version=$(dpkg-deb -f "$agent_deb" Version)
[ "$version" = "$(dpkg-deb -f "$wizard_deb" Version)" ] || fail "the two packages' versions differ"

# Dependencies are computed from the programs, so the libraries they link must be there.
agent_depends=$(dpkg-deb -f "$agent_deb" Depends)
wizard_depends=$(dpkg-deb -f "$wizard_deb" Depends)
for lib in libodbc libicu libstdc++; do
    [[ $agent_depends == *"$lib"* ]] || fail "tabloxa does not depend on $lib: $agent_depends"
done
for dep in libqt6widgets6 "tabloxa (= $version)"; do
    [[ $wizard_depends == *"$dep"* ]] || fail "tabloxa-wizard does not depend on $dep: $wizard_depends"
done
[ "$(dpkg-deb -f "$agent_deb" Recommends)" = tdsodbc ] || fail "tabloxa does not recommend tdsodbc"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$agent_deb" "$scratch"
dpkg-deb -x "$wizard_deb" "$scratch"
usr=$scratch/usr

[ "$("$usr/bin/pellorin" --version)" = "pellorin $version" ] || fail "pellorin --version"
status=0
"$usr/bin/pellorin" --help 2>"$scratch/help.txt" || status=$?
[ "$status" = 255 ] || fail "pellorin --help exited with $status"
grep -q '^   --version      display the program' "$scratch/help.txt" || fail "pellorin --help lacks --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/drelk" --version)" = "drelk $version" ] ||
    fail "drelk --version"

for page in pellorin drelk; do
    file=$usr/share/man/man1/$page.1.gz
    [ -f "$file" ] || fail "no manual page $page.1.gz"
    warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings on $page.1: $warnings"
done

# The installed wizard looks for its manual here (beside the program there is none).
[ -f "$usr/share/doc/tabloxa/drelk.html" ] || fail "no manual in share/doc/tabloxa"
[ ! -e "$usr/bin/drelk.html" ] || fail "a manual beside the installed program"
desktop=$usr/share/applications/tabloxa-wizard.desktop
[ -f "$desktop" ] || fail "no desktop entry"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$usr/share/icons/hicolor/64x64/apps/$icon.png" ] || fail "no icon $icon"
metainfo=$(ls "$usr"/share/metainfo/*.metainfo.xml)
grep -q '<launchable type="desktop-id">tabloxa-wizard.desktop</launchable>' "$metainfo" ||
    fail "the metadata does not name the desktop entry"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --pedantic "$metainfo" >"$scratch/appstream.txt" ||
        { cat "$scratch/appstream.txt"; fail "appstreamcli validate"; }
fi

# Errors fail the check; warnings and notes are shown.
status=0
lintian --fail-on error --tag-display-limit 0 "$agent_deb" "$wizard_deb" >"$scratch/lintian.txt" 2>&1 || status=$?
grep -v 'running with root privileges' "$scratch/lintian.txt" || true
[ "$status" = 0 ] || fail "lintian reports errors"

echo "package check: tabloxa and tabloxa-wizard $version built and checked in $((SECONDS - started)) s"
