#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only when missing,
# and generates the locales the tests use.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    libgtest-dev libgmock-dev libbenchmark-dev
    libicu-dev unixodbc unixodbc-dev tdsodbc freetds-bin libsqliteodbc libsqlite3-dev sqlite3
    zlib1g-dev libzstd-dev nlohmann-json3-dev
    locales util-linux
)
if [ "${TABLOXA_NO_WIZARD:-0}" != 1 ]; then
    packages+=(qt6-base-dev xvfb xauth fonts-dejavu-core)
    # The packages' check (scripts/package-check.sh), which needs the wizard too.
    packages+=(file man-db lintian desktop-file-utils appstream)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Only C, C.UTF-8 and POSIX exist on a fresh machine; the tests also run under these.
need_locale() {
    local name=$1 input=$2 charset=$3
    local want
    want=$(echo "$name" | tr 'A-Z' 'a-z' | tr -d '-')
    if ! locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d '-' | grep -qx "$want"; then
        sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo localedef -i "$input" -f "$charset" "$name" || echo "warning: could not generate $name"
    fi
}
need_locale de_DE.UTF-8 de_DE UTF-8
need_locale en_US.ISO-8859-1 en_US ISO-8859-1
