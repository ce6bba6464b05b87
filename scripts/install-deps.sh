#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and running Korrin need.
# Idempotent: when everything is present it does not touch apt at all.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
    # Qt 6 widgets and the offscreen platform plugin used by the tests
    qt6-base-dev qt6-qpa-plugins libgl-dev libxkbcommon-dev fonts-dejavu-core
    # settings store
    libsqlite3-dev sqlite3 media-types
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev python3
    # a real SMTP server for the mail tests
    python3-aiosmtpd
    # shell integration and zip packaging
    xdg-utils desktop-file-utils shared-mime-info zip unzip
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
