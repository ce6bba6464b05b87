#!/usr/bin/env bash
# One hour of 8 kHz 8-bit mono PCM converted to GSM 6.10 (65-byte blocks of 320 samples in a
# wave file), by korrinctl and by sox, in one run on the same machine. Prints both times, the
# ratio, and korrinctl's peak memory for 6 and 60 minutes of audio (it must not grow with the
# length). Exit 1 when korrinctl is slower or its memory grows.
#
#   bench/convert_vs_sox.sh [build-dir]     (default build-bench, configured Release if new)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/korrinctl" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF \
        -DKORRIN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target korrinctl >/dev/null
ctl="$build/korrinctl"
for tool in sox /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-deps.sh)"; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KORRIN_REGISTRY="$work/registry.db"
# Pink noise is as hard on the coder as speech and the same for both.
sox -n -r 8000 -b 8 -e unsigned-integer -c 1 "$work/hour.wav" synth 3600 pinknoise vol 0.3
sox -n -r 8000 -b 8 -e unsigned-integer -c 1 "$work/six.wav" synth 360 pinknoise vol 0.3

# CPU seconds (user + system; wall time swings with whatever else the machine runs) and
# peak resident memory (KiB) of one run.
run() {
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err"; exit 2; }
    awk '{printf "%.2f %d\n", $1 + $2, $3}' "$work/time"
}
min() { awk "BEGIN{print ($1 < $2) ? $1 : $2}"; }

# Best of five, the two programs taking turns.
sox_s=999 ours_s=999
for _ in 1 2 3 4 5; do
    read -r t sox_kb < <(run sox "$work/hour.wav" -e gsm-full-rate "$work/sox.wav")
    sox_s=$(min "$t" "$sox_s")
    read -r t ours_kb < <(run "$ctl" convert "$work/hour.wav" "$work/ours.wav" --to transport)
    ours_s=$(min "$t" "$ours_s")
done
read -r six_s six_kb < <(run "$ctl" convert "$work/six.wav" "$work/six-gsm.wav" --to transport)

# Both wrote the same GSM data: compare everything after the headers.
ours_data=$(stat -c %s "$work/ours.wav")
sox_data=$(stat -c %s "$work/sox.wav")
same=$(cmp -s <(tail -c 5850000 "$work/ours.wav") <(tail -c 5850000 "$work/sox.wav") && echo yes || echo no)

ratio=$(awk "BEGIN{printf \"%.3f\", $sox_s / $ours_s}")
growth=$(awk "BEGIN{printf \"%.3f\", $ours_kb / $six_kb}")
echo "PCM 8 kHz 8-bit mono -> GSM 6.10, 60 min (28.8 MB)"
echo "  sox       ${sox_s} s CPU   peak ${sox_kb} KiB   ${sox_data} bytes"
echo "  korrinctl ${ours_s} s CPU   peak ${ours_kb} KiB   ${ours_data} bytes   same GSM data: ${same}"
echo "  speed ratio sox/korrinctl: ${ratio} (above 1: korrinctl is faster)"
echo "  korrinctl peak memory 6 min: ${six_kb} KiB, 60 min: ${ours_kb} KiB (ratio ${growth})"
status=0
awk "BEGIN{exit !($ratio > 1.0)}" || { echo "  SLOWER than sox"; status=1; }
awk "BEGIN{exit !($growth < 1.1)}" || { echo "  memory grows with the length"; status=1; }
exit $status
