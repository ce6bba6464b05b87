#!/usr/bin/env bash
# Runs every benchmark program of a build and prints its table.
set -euo pipefail
build=${1:-build}
for b in "$build"/*_bench; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.5
done
