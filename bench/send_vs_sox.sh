#!/usr/bin/env bash
# Send of a 10-minute recording (korrinctl compose: the recording taken in, converted to the
# transport format, packed for the zipped preset, stamped and filed into the Outbox) against
# the same audio converted to GSM 6.10 by sox (and packed by zip for the zipped preset), in
# one run on the same machine. Prints the times and their ratio; exit 1 when Send takes more
# than 1.2 times as long as its peer in either case.
#
#   bench/send_vs_sox.sh [build-dir]     (default build-bench, configured Release if new)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/korrinctl" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF \
        -DKORRIN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target korrinctl >/dev/null
ctl="$build/korrinctl"
for tool in sox zip /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-deps.sh)"; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KORRIN_REGISTRY="$work/registry.db"
export KORRIN_WINDIR="$work/tools"
export TMPDIR="$work/tmp"
mkdir -p "$work/install" "$KORRIN_WINDIR" "$TMPDIR"
install -m 755 "$root/resources/tools/pkzip" "$root/resources/tools/pkunzip" "$KORRIN_WINDIR/"
key='HKLM\SOFTWARE\Quillion\Korrin'
"$ctl" reg set 'HKLM\SOFTWARE\Quillion\Quillion EMail for Windows (tm)' InstallDir REG_SZ \
    "$work/install" >/dev/null
"$ctl" reg set "$key" Name REG_SZ "Bench" >/dev/null
"$ctl" reg set "$key" "Email Address" REG_SZ "bench@example.org" >/dev/null
"$ctl" reg set "$key" "SMTP Host" REG_SZ "127.0.0.1" >/dev/null

# A recording as the recorder makes it (the local format, PCM 8 kHz 8-bit mono); pink noise
# is as hard on the coder as speech and the same for both.
sox -n -r 8000 -b 8 -e unsigned-integer -c 1 "$work/rec.wav" synth 600 pinknoise vol 0.3

# Wall seconds of one run (the programs they start included).
run() {
    /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err"; exit 2; }
    cat "$work/time"
}
compose() {
    "$ctl" compose --to bob@example.org --subject Bench --wave "$work/rec.wav" --transport smtp
}
peer_plain() { sox "$work/rec.wav" -e gsm-full-rate "$work/sox.wav"; }
peer_zip() { peer_plain && rm -f "$work/sox.zip" && zip -q -j "$work/sox.zip" "$work/sox.wav"; }

status=0
report() {  # name ours peer
    ratio=$(awk "BEGIN{printf \"%.3f\", $2 / $3}")
    echo "  $1: Send ${2} s, peer ${3} s, ratio ${ratio}"
    awk "BEGIN{exit !($ratio <= 1.2)}" || { echo "  $1: Send is more than 1.2 times slower"; status=1; }
}

echo "Send of 10 minutes of PCM 8 kHz 8-bit mono (4.8 MB), one run each"
"$ctl" reg set "$key" Quality REG_DWORD 1 >/dev/null
peer=$(run bash -c "$(declare -f peer_plain); work='$work'; peer_plain")
ours=$(run bash -c "$(declare -f compose); ctl='$ctl'; work='$work'; compose")
report "default presets (GSM, .kx0)" "$ours" "$peer"

"$ctl" reg set "$key" Quality REG_DWORD 2 >/dev/null
"$ctl" reg set "$key" Compression REG_DWORD 2 >/dev/null
peer=$(run bash -c "$(declare -f peer_plain peer_zip); work='$work'; peer_zip")
ours=$(run bash -c "$(declare -f compose); ctl='$ctl'; work='$work'; compose")
report "zipped preset (GSM, .kx1)" "$ours" "$peer"
ls "$work/install/OUTBOX"
exit $status
