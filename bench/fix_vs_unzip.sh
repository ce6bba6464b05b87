#!/usr/bin/env bash
# korrinctl fix of 200 one-minute old-layout messages (each a zip archive of an 8 kHz 8-bit
# mono wave with its trailer inside) against a shell loop running unzip and zip on copies of
# the same files, in one run on the same machine. Prints both wall times and the ratio; exit 1
# when korrinctl takes more than twice as long, or when a file did not come out fixed.
#
#   bench/fix_vs_unzip.sh [build-dir]     (default build-bench, configured Release if new)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/korrinctl" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF \
        -DKORRIN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target korrinctl >/dev/null
ctl="$build/korrinctl"
for tool in sox zip unzip python3; do
    command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-deps.sh)"; exit 2; }
done
count=${FIX_BENCH_FILES:-200}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tools" "$work/ours" "$work/peer" "$work/stage" "$work/tmp" "$work/run"
chmod 700 "$work/run"
install -m 755 "$root/resources/tools/pkzip" "$root/resources/tools/pkunzip" "$work/tools"
export KORRIN_REGISTRY="$work/registry.db" KORRIN_WINDIR="$work/tools" TMPDIR="$work/tmp"
export XDG_RUNTIME_DIR="$work/run"

# One minute of speech-like noise with a trailer behind it, packed: the old layout.
sox -n -r 8000 -b 8 -e unsigned-integer -c 1 "$work/stage/V1P.wav" synth 60 pinknoise vol 0.3
python3 - "$work/stage/V1P.wav" <<'PY'
import struct, sys
def text(s):
    b = s.encode() + b"\0"
    return struct.pack("<I", len(b)) + b
note = b"banner\r\ntyped note\0"
fields = (text("Sender") + text("sender@example.org") + text("Benchmark") +
          struct.pack("<IH", len(note), 8) + note +
          struct.pack("<8H", 2026, 12, 2, 8, 9, 30, 0, 0) +
          text("To") + text("to@example.org") + text("") + text(""))
with open(sys.argv[1], "ab") as f:
    f.write(fields + struct.pack("<II", len(fields), 2))
PY
(cd "$work/stage" && zip -q -j old.zip V1P.wav)
for i in $(seq 1 "$count"); do
    cp "$work/stage/old.zip" "$work/ours/KX${i}O.kx1"
    cp "$work/stage/old.zip" "$work/peer/KX${i}O.kx1"
done

now() { date +%s.%N; }
start=$(now)
"$ctl" fix "$work/ours" >"$work/fix.out"
ours=$(awk "BEGIN{printf \"%.2f\", $(now) - $start}")

# The peer does the unpacking and packing alone, on copies, as a script would.
start=$(now)
for f in "$work"/peer/*.kx1; do
    d="$f.d"
    mkdir "$d"
    cp "$f" "$d/file.zip"
    (cd "$d" && unzip -qq -o file.zip && rm file.zip && zip -q -j new.zip V1P.wav)
    cp "$d/new.zip" "$f.new" && mv "$f.new" "$f"
    rm -rf "$d"
done
peer=$(awk "BEGIN{printf \"%.2f\", $(now) - $start}")

fixed=$(grep -c ': fixed$' "$work/fix.out" || true)
show=$("$ctl" show "$work/ours/KX1O.kx1" || true)
ratio=$(awk "BEGIN{printf \"%.3f\", $ours / $peer}")
echo "fix of $count one-minute old messages (8 kHz 8-bit mono, zipped with the trailer inside)"
echo "  korrinctl fix        ${ours} s   fixed: ${fixed}"
echo "  unzip + zip loop     ${peer} s"
echo "  time ratio korrinctl/loop: ${ratio} (goal: at most 2)"
status=0
[ "$fixed" = "$count" ] || { echo "  NOT ALL FIXED"; status=1; }
grep -q '"subject": *"Benchmark"' <<<"$show" || { echo "  envelope not readable: $show"; status=1; }
awk "BEGIN{exit !($ratio <= 2.0)}" || { echo "  TOO SLOW"; status=1; }
exit $status
