#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each one briefly from its saved
# corpus. A crash fails the run; its input is left in build-fuzz/crashes/ to be added to
# tests/fuzz/corpus/<target>/ once fixed.
set -euo pipefail
seconds=${FUZZ_SECONDS:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-fuzz"
if ! command -v clang++ >/dev/null; then
    echo "fuzz-smoke: clang++ not found, skipped"
    exit 0
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$out" -G Ninja -DKORRIN_FUZZ=ON -DKORRIN_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=$(sed -n 's/^korrin_add_fuzzer(\([A-Za-z0-9_]*\).*/\1/p' "$root"/tests/fuzz/*.cmake)
[ -n "$targets" ] || { echo "fuzz-smoke: no targets"; exit 0; }
cmake --build "$out" -j "$(nproc)" --target $targets
mkdir -p "$out/crashes"
for t in $targets; do
    work="$out/corpus/$t"
    mkdir -p "$work"
    cp -r "$root/tests/fuzz/corpus/$t/." "$work/" 2>/dev/null || true
    echo "fuzz-smoke: $t for ${seconds}s"
    "$out/$t" -max_total_time="$seconds" -artifact_prefix="$out/crashes/$t-" -print_final_stats=0 \
        "$work" >"$out/$t.log" 2>&1 || { tail -n 40 "$out/$t.log"; exit 1; }
done
echo "fuzz-smoke: all targets ran clean"
