#!/usr/bin/env bash
# The playable copy against opusenc: ten minutes of speech (espeak-ng, 8 kHz) made into a GSM
# 6.10 message as Korrin sends it, decoded once to 16-bit PCM; that same decoded audio is then
# encoded to Ogg Opus by korrinctl export and by `opusenc --bitrate 16 --speech` at the same
# complexity (5, the one Korrin uses), in one run on the same machine. Also shown: opusenc at
# complexity 0 and 10 (what the choice of 5 trades), korrinctl straight from the GSM message,
# the copy's bytes per second of audio, and korrinctl's peak memory for 1 and 10 minutes.
# Exit 1 when korrinctl takes more than 1.1 times opusenc's time, the copy exceeds 2,200 bytes
# a second, or the memory grows with the length.
#
#   bench/opus_vs_opusenc.sh [build-dir]     (default build-bench, configured Release if new)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/korrinctl" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF \
        -DKORRIN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target korrinctl >/dev/null
ctl="$build/korrinctl"
for tool in sox opusenc espeak-ng /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-deps.sh)"; exit 2; }
done
complexity=5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KORRIN_REGISTRY="$work/registry.db"
text="Good morning. This is a voice message about the meeting on Thursday. We moved it to
three o'clock in the large room on the second floor. Please bring the figures for the last
quarter and the draft of the new plan, and call me back if the time does not suit you."
espeak-ng -w "$work/speech.wav" "$text"
# Repeated to ten minutes (and one minute) of 8 kHz mono, as a message's audio would be.
sox "$work/speech.wav" -r 8000 -c 1 -b 16 "$work/ten.wav" repeat 60 trim 0 600
sox "$work/ten.wav" "$work/one.wav" trim 0 60
"$ctl" convert "$work/ten.wav" "$work/ten-gsm.wav" --to transport >/dev/null
"$ctl" convert "$work/one.wav" "$work/one-gsm.wav" --to transport >/dev/null
"$ctl" export "$work/ten-gsm.wav" "$work/decoded.wav" >/dev/null
"$ctl" export "$work/one-gsm.wav" "$work/decoded-one.wav" >/dev/null
seconds=$(sox --i -D "$work/decoded.wav")

# CPU seconds (user + system) and peak resident memory (KiB) of one run.
run() {
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err"; exit 2; }
    awk '{printf "%.2f %d\n", $1 + $2, $3}' "$work/time"
}
min() { awk "BEGIN{print ($1 < $2) ? $1 : $2}"; }

# Best of three, the two programs taking turns.
peer_s=999 ours_s=999
for _ in 1 2 3; do
    read -r t _ < <(run opusenc --quiet --bitrate 16 --speech --comp $complexity \
        "$work/decoded.wav" "$work/peer.opus")
    peer_s=$(min "$t" "$peer_s")
    read -r t ours_kb < <(run "$ctl" export "$work/decoded.wav" "$work/ours.opus")
    ours_s=$(min "$t" "$ours_s")
done
# opusenc told to stop at narrowband too, as korrinctl does for 8 kHz audio.
read -r peernb_s _ < <(run opusenc --quiet --bitrate 16 --speech --comp $complexity \
    --set-ctl-int 4004=1101 "$work/decoded.wav" "$work/peer-nb.opus")
read -r peer0_s _ < <(run opusenc --quiet --bitrate 16 --speech --comp 0 "$work/decoded.wav" "$work/p0.opus")
read -r peer10_s _ < <(run opusenc --quiet --bitrate 16 --speech --comp 10 "$work/decoded.wav" "$work/p10.opus")
read -r gsm_s _ < <(run "$ctl" export "$work/ten-gsm.wav" "$work/from-gsm.opus")
read -r one_s one_kb < <(run "$ctl" export "$work/decoded-one.wav" "$work/one.opus")

ours_bytes=$(stat -c %s "$work/ours.opus")
peer_bytes=$(stat -c %s "$work/peer.opus")
ratio=$(awk "BEGIN{printf \"%.3f\", $ours_s / $peer_s}")
per_second=$(awk "BEGIN{printf \"%.0f\", $ours_bytes / $seconds}")
growth=$(awk "BEGIN{printf \"%.3f\", $ours_kb / $one_kb}")
echo "Speech, ${seconds} s decoded from GSM 6.10 to 16-bit 8 kHz -> Ogg Opus 16 kbit/s"
echo "  opusenc --bitrate 16 --speech --comp ${complexity}  ${peer_s} s CPU   ${peer_bytes} bytes"
echo "  korrinctl export (complexity ${complexity})        ${ours_s} s CPU   ${ours_bytes} bytes"
echo "  time ratio korrinctl/opusenc: ${ratio} (at most 1.1)"
echo "  opusenc at complexity 0: ${peer0_s} s, at 10: ${peer10_s} s; narrowband like ours: ${peernb_s} s, $(stat -c %s "$work/peer-nb.opus") bytes"
echo "  korrinctl export straight from the GSM message: ${gsm_s} s"
echo "  the copy: ${per_second} bytes per second of audio (at most 2200)"
echo "  korrinctl peak memory 1 min: ${one_kb} KiB, 10 min: ${ours_kb} KiB (ratio ${growth})"
status=0
awk "BEGIN{exit !($ratio <= 1.1)}" || { echo "  SLOWER than 1.1 x opusenc"; status=1; }
awk "BEGIN{exit !($per_second <= 2200)}" || { echo "  copy too large"; status=1; }
awk "BEGIN{exit !($growth < 1.1)}" || { echo "  memory grows with the length"; status=1; }
exit $status
