#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (ASan+UBSan) and runs each one from its
# saved corpus: every saved input is replayed first, then the target fuzzes for its share of
# the time. A crash fails the run; its input is left in build-fuzz/crashes/ to be added to
# tests/fuzz/corpus/<target>/ once fixed.
#
# The time is a fixed total (FUZZ_TOTAL_SECONDS, default 60) shared by all targets, so the run
# does not grow with their number; FUZZ_SECONDS instead gives each target that many seconds
# (`make fuzz` runs them longer that way).
set -euo pipefail
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
count=$(echo "$targets" | wc -w)
if [ -n "${FUZZ_SECONDS:-}" ]; then
    seconds=$FUZZ_SECONDS
else
    total=${FUZZ_TOTAL_SECONDS:-60}
    seconds=$(( total / count ))
    [ "$seconds" -ge 1 ] || seconds=1
fi
mkdir -p "$out/crashes"
for t in $targets; do
    work="$out/corpus/$t"
    mkdir -p "$work"
    cp -r "$root/tests/fuzz/corpus/$t/." "$work/" 2>/dev/null || true
    echo "fuzz-smoke: $t for ${seconds}s"
    "$out/$t" -max_total_time="$seconds" -artifact_prefix="$out/crashes/$t-" -print_final_stats=0 \
        "$work" >"$out/$t.log" 2>&1 || { tail -n 40 "$out/$t.log"; exit 1; }
done
echo "fuzz-smoke: all $count targets ran clean"
