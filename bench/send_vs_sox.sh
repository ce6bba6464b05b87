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
build=$(realpath "${1:-$root/build-bench}")
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
"$ctl" reg set "$key" Account REG_SZ "bench" >/dev/null
"$ctl" reg set "$key" Password REG_SZ "bench" >/dev/null

# A recording as the recorder makes it (the local format, PCM 8 kHz 8-bit mono); pink noise
# is as hard on the coder as speech and the same for both.
sox -n -r 8000 -b 8 -e unsigned-integer -c 1 "$work/rec.wav" synth 600 pinknoise vol 0.3

# CPU seconds (user + system, the programs it starts and waits for included; wall time swings
# with whatever else the machine runs) and wall seconds of one run. A failed run ends the
# script.
run() {
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; return 2; }
    awk '{printf "%.2f %.2f\n", $2 + $3, $1}' "$work/time"
}
compose=("$ctl" compose --to bob@example.org --subject Bench --wave "$work/rec.wav"
    --transport smtp)
peer_plain=(sox "$work/rec.wav" -e gsm-full-rate "$work/sox.wav")
peer_zip=(sh -c 'sox "$1" -e gsm-full-rate "$2" && rm -f "$3" && zip -q -j "$3" "$2"' sh
    "$work/rec.wav" "$work/sox.wav" "$work/sox.zip")

status=0
report() {  # name "ours-cpu ours-wall" "peer-cpu peer-wall"
    read -r ours ours_wall <<<"$2"
    read -r peer peer_wall <<<"$3"
    ratio=$(awk "BEGIN{printf \"%.3f\", $ours / $peer}")
    echo "  $1: Send ${ours} s CPU (${ours_wall} s wall), peer ${peer} s CPU (${peer_wall} s wall), ratio ${ratio}"
    awk "BEGIN{exit !($ratio <= 1.2)}" || { echo "  $1: Send is more than 1.2 times slower"; status=1; }
}

echo "Send of 10 minutes of PCM 8 kHz 8-bit mono (4.8 MB), one run each (ratio of CPU time)"
"$ctl" reg set "$key" Quality REG_DWORD 1 >/dev/null
peer=$(run "${peer_plain[@]}") || exit 2
ours=$(run "${compose[@]}") || exit 2
report "default presets (GSM, .kx0)" "$ours" "$peer"

"$ctl" reg set "$key" Quality REG_DWORD 2 >/dev/null
"$ctl" reg set "$key" Compression REG_DWORD 2 >/dev/null
peer=$(run "${peer_zip[@]}") || exit 2
ours=$(run "${compose[@]}") || exit 2
report "zipped preset (GSM, .kx1)" "$ours" "$peer"
echo "  filed: $(cd "$work/install/OUTBOX" && ls -- *.kx* | tr '\n' ' ')"
exit $status
