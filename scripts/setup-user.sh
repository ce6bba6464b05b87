#!/usr/bin/env bash
# Sets up this user's installation of Korrin once: the install folder (InstallDir, which the
# program only reads), its tools directory with the packer and unpacker, and the desktop
# entry and file type so that opening a .kx0 or .kx1 file starts Korrin. Safe to run again.
set -euo pipefail
build=${1:-build}
build=$(cd "$build" && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
install_dir="$data/korrin"
tools_dir=${KORRIN_WINDIR:-$install_dir/tools}
install_key='HKLM\SOFTWARE\Quillion\Quillion EMail for Windows (tm)'

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

# Desktop integration: best effort, the program runs without it.
mkdir -p "$data/applications" "$data/mime/packages"
sed "s|@KORRIN@|$build/korrin|" "$src/korrin.desktop.in" > "$data/applications/korrin.desktop"
cp "$src/korrin-mime.xml" "$data/mime/packages/korrin.xml"
command -v update-mime-database >/dev/null && update-mime-database "$data/mime" >/dev/null 2>&1 || true
command -v update-desktop-database >/dev/null && update-desktop-database "$data/applications" >/dev/null 2>&1 || true
exit 0
