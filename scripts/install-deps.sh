#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and running Korrin need.
# Idempotent: when everything is present it does not touch apt at all.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev ccache
    # Qt 6 widgets and the offscreen platform plugin used by the tests
    qt6-base-dev qt6-qpa-plugins libgl-dev libxkbcommon-dev fonts-dejavu-core
    # settings store
    libsqlite3-dev sqlite3 media-types
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev python3
    # TLS for mail, and the certificates the mail tests make
    libssl-dev openssl
    # a real SMTP server for the mail tests
    python3-aiosmtpd
    # the system mail layer a MAPI profile submits through (sendmail -t interface)
    msmtp
    # a contacts program whose vCard folders the address book reads and writes
    khard
    # codecs (GSM 6.10, rate changes); sox, ffmpeg and espeak-ng check our wave files
    libgsm1-dev libsoxr-dev sox libsox-fmt-base ffmpeg espeak-ng
    # Ogg Opus copies (libopusenc), read back by the tests (libopusfile, opusinfo, opusdec)
    # and compared with opusenc by the benchmark
    libopusenc-dev libopusfile-dev opus-tools
    # shell integration and zip packaging
    xdg-utils desktop-file-utils shared-mime-info zip unzip
    # sound: playback and recording, the mixer
    portaudio19-dev libasound2-dev
    # the windows seen from outside: an X server, the accessibility bus and its Python client
    xvfb dbus at-spi2-core python3-pyatspi x11-apps imagemagick
    # a stand-in notification service on a private session bus (the desktop tests)
    python3-gi
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
# Postfix is wanted only for its smtp-sink (the mail benchmark): it is installed unconfigured,
# and the package is not allowed to start the mail system, so nothing listens on port 25.
need_postfix=""
dpkg-query -W -f='${Status}' postfix 2>/dev/null | grep -q 'install ok installed' || need_postfix=1
[ ${#missing[@]} -eq 0 ] && [ -z "$need_postfix" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ -n "$need_postfix" ]; then
    echo "installing: postfix (unconfigured, not started)"
    echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
    policy=/usr/sbin/policy-rc.d
    made_policy=""
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\n# no service may start while postfix is installed\nexit 101\n' |
            $SUDO tee "$policy" >/dev/null
        $SUDO chmod +x "$policy"
        made_policy=1
    fi
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends postfix ||
        echo "postfix could not be installed: the smtp-sink comparison will be skipped"
    if [ -n "$made_policy" ]; then
        $SUDO rm -f "$policy"
    fi
fi
