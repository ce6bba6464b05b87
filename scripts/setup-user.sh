#!/usr/bin/env bash
# Sets up this user's installation of Korrin once: the install folder (InstallDir, which the
# program only reads), its tools directory with the packer, the unpacker and the volume
# control, and the desktop entry, icons and file type so that opening a .kx0 or .kx1 file
# starts Korrin. Safe to run again.
#
#   setup-user.sh [BUILD]            set up
#   setup-user.sh --remove [BUILD]   take the desktop entry, icons, file type and tools away
#                                    (the messages and settings stay)
set -euo pipefail
remove=0
if [ "${1:-}" = --remove ]; then
    remove=1
    shift
fi
build=${1:-build}
data=${XDG_DATA_HOME:-$HOME/.local/share}
install_dir="$data/korrin"
tools_dir=${KORRIN_WINDIR:-$install_dir/tools}
install_key='HKLM\SOFTWARE\Quillion\Quillion EMail for Windows (tm)'
sizes="16 22 24 32 48 64 128 256"

refresh() {
    command -v update-mime-database >/dev/null && update-mime-database "$data/mime" >/dev/null 2>&1 || true
    command -v update-desktop-database >/dev/null && update-desktop-database "$data/applications" >/dev/null 2>&1 || true
    command -v gtk-update-icon-cache >/dev/null && gtk-update-icon-cache -q -t "$data/icons/hicolor" >/dev/null 2>&1 || true
}

if [ $remove = 1 ]; then
    rm -f "$data/applications/korrin.desktop" "$data/mime/packages/korrin.xml"
    for size in $sizes; do
        rm -f "$data/icons/hicolor/${size}x$size/apps/korrin.png" \
              "$data/icons/hicolor/${size}x$size/mimetypes/application-x-korrin-message.png"
    done
    rm -f "$tools_dir/pkzip" "$tools_dir/pkunzip" "$tools_dir/sndvol32"
    rmdir "$tools_dir" 2>/dev/null || true
    refresh
    echo "Korrin's desktop entry, icons, file type and tools removed; messages and settings stay."
    exit 0
fi
build=$(cd "$build" && pwd)

mkdir -p "$install_dir" "$tools_dir"
if ! "$build/korrinctl" reg query "$install_key" InstallDir >/dev/null 2>&1; then
    "$build/korrinctl" reg set "$install_key" InstallDir REG_SZ "$install_dir"
    echo "InstallDir set to $install_dir"
fi

# The packer and unpacker run Info-ZIP; they are looked for in the tools directory.
src=$(cd "$(dirname "$0")/.." && pwd)/resources
for tool in pkzip pkunzip; do
    install -m 755 "$src/tools/$tool" "$tools_dir/$tool"
done
command -v zip >/dev/null && command -v unzip >/dev/null ||
    echo "warning: zip and unzip are not installed; packed messages will not work" >&2

# The volume control (Tools > Mixer) is "sndvol32" in the tools directory: the desktop's mixer.
mixer=""
if command -v pavucontrol >/dev/null; then
    mixer='exec pavucontrol "$@"'
elif command -v gnome-control-center >/dev/null; then
    mixer='exec gnome-control-center sound "$@"'
elif command -v alsamixer >/dev/null && command -v x-terminal-emulator >/dev/null; then
    mixer='exec x-terminal-emulator -e alsamixer "$@"'
fi
if [ -n "$mixer" ]; then
    printf '#!/bin/sh\n# The volume control Korrin starts from Tools > Mixer.\n%s\n' "$mixer" > "$tools_dir/sndvol32"
    chmod 755 "$tools_dir/sndvol32"
fi

# Desktop integration: best effort, the program runs without it.
mkdir -p "$data/applications" "$data/mime/packages" "$data/icons/hicolor"
sed "s|@KORRIN@|$build/korrin|" "$src/korrin.desktop.in" > "$data/applications/korrin.desktop"
cp "$src/korrin-mime.xml" "$data/mime/packages/korrin.xml"
QT_QPA_PLATFORM=offscreen "$build/korrin" --write-icons "$data/icons/hicolor" ||
    echo "warning: the icons could not be written" >&2
refresh
command -v xdg-mime >/dev/null &&
    xdg-mime default korrin.desktop application/x-korrin-message >/dev/null 2>&1 || true
exit 0
