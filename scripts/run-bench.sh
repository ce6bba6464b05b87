#!/usr/bin/env bash
# Runs every benchmark program of a build and prints its table.
set -euo pipefail
build=${1:-build}
for b in "$build"/*_bench; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.5
done
# The mail comparison against curl over smtp-sink (skips itself without postfix or curl).
if [ -x "$build/smtp_bench_input" ] && [ -x "$build/korrinctl" ]; then
    echo "== smtp_sink_compare"
    "$(dirname "$0")/../bench/smtp_sink_compare.sh" "$build"
fi
# The main window's event loop watched while it starts, shows, opens and sends.
if [ -x "$build/korrin" ] && [ -x "$build/smtp_bench_input" ]; then
    echo "== window_stalls"
    "$(dirname "$0")/../bench/window_stalls.sh" "$build"
fi
