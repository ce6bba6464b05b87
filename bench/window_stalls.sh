#!/usr/bin/env bash
# The main window's responsiveness as a user meets it: the real korrin, offscreen, driven by a
# window script, with the stall probe (a 10 ms timer) on its event loop. Prints, for each
# scenario, the longest gap between two ticks (goal: under 100 ms) and, for the start-up, the
# time from the start of the process until the window shows (goal: under 500 ms) and until
# the folders are read.
#
#   bench/window_stalls.sh [BUILD_DIR] [MESSAGES]
#
# Scenarios: start-up with MESSAGES (default 10000) messages in each of the three folders;
# showing an out-of-date folder of MESSAGES; a 7.5 MB message sent to Postfix's smtp-sink on
# loopback (skipped without it); a .kx1 opened (Info-ZIP unpacks it).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
count=${2:-10000}
src=$(cd "$(dirname "$0")/.." && pwd)
for p in korrin korrinctl smtp_bench_input; do
    [ -x "$build/$p" ] || { echo "build $p first (KORRIN_BENCH=ON)"; exit 1; }
done

work=$(mktemp -d)
sink_pid=""
cleanup() {
    if [ -n "$sink_pid" ]; then
        kill "$sink_pid" 2>/dev/null || true
        wait "$sink_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

export QT_QPA_PLATFORM=offscreen KORRIN_AUDIO=virtual KORRIN_MIXER=virtual
export KORRIN_REGISTRY="$work/registry.db" KORRIN_MESSAGE_LOG="$work/messages.log"
export KORRIN_MESSAGE_ANSWERS=OK KORRIN_WINDIR="$work/tools"
export XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
mkdir -p "$work/run" "$work/tmp" "$work/tools" "$work/install"/{SENT,OUTBOX,DELETED}
chmod 700 "$work/run" "$work/tmp"
install -m 755 "$src/resources/tools/pkzip" "$src/resources/tools/pkunzip" "$work/tools/"
reg() { "$build/korrinctl" reg set "$1" "$2" "$3" "$4" >/dev/null; }
reg 'HKLM\SOFTWARE\Quillion\Quillion EMail for Windows (tm)' InstallDir REG_SZ "$work/install"
key='HKLM\SOFTWARE\Quillion\Korrin'
reg "$key" "File ID" REG_DWORD $((count * 4))
reg "$key" "OutBox Minutes" REG_DWORD 0

# One small message, copied into every folder under the names the program gives.
"$build/smtp_bench_input" message 2000 "$work/one.kx0"
/usr/bin/python3 - "$work" "$count" <<'PY'
import os, shutil, sys
work, n = sys.argv[1], int(sys.argv[2])
data = open(os.path.join(work, "one.kx0"), "rb").read()
for folder, letter in (("SENT", "S"), ("OUTBOX", "O"), ("DELETED", "D")):
    for i in range(1, n + 1):
        with open(os.path.join(work, "install", folder, "KX%d%s.kx0" % (i, letter)), "wb") as f:
            f.write(data)
PY

# Runs korrin on a script and prints the probe's lines under a title.
scenario() {
    local title=$1
    shift
    printf '%s\n' "$@" > "$work/script"
    : > "$work/probe"
    KORRIN_SCRIPT="$work/script" KORRIN_PROBE_LOG="$work/probe" timeout 300 "$build/korrin" \
        > "$work/korrin.log" 2>&1 || { echo "$title: korrin failed"; cat "$work/korrin.log"; exit 1; }
    echo "== $title"
    sed 's/^/   /' "$work/probe"
}

scenario "start-up, $count messages in each folder (shown: window shows; startup: folders read)" \
    loaded "mark startup" quit
scenario "an out-of-date folder of $count messages shown (reread: 3 s after the show)" \
    loaded "folder 1" "rows 1 $count" "mark first-show" "stale 1" "folder 2" "folder 1" \
    "sleep 3000" "mark reread" quit

# A .kx1: spoken words, zipped by Info-ZIP, with an envelope.
if command -v espeak-ng >/dev/null && command -v zip >/dev/null; then
    espeak-ng -w "$work/voice.wav" "This message is opened while the probe watches." 2>/dev/null
    (cd "$work" && zip -q -j voice.zip voice.wav)
    "$build/smtp_bench_input" wrap "$work/voice.zip" "$work/voice.kx1"
    scenario "a .kx1 opened (the message window stays 2 s)" \
        loaded "mark startup" "open $work/voice.kx1" "sleep 2000" "mark open" quit
else
    echo "== a .kx1 opened: skipped (espeak-ng or zip missing)"
fi

sink=$(command -v smtp-sink || echo /usr/sbin/smtp-sink)
if [ -x "$sink" ]; then
    rm -f "$work/install/OUTBOX/"*
    "$build/smtp_bench_input" message 7500000 "$work/install/OUTBOX/KX1O.kx0"
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    user=()
    [ "$(id -u)" -eq 0 ] && user=(-u nobody)
    "$sink" "${user[@]}" 127.0.0.1:"$port" 64 &
    sink_pid=$!
    for _ in $(seq 50); do
        (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break
        sleep 0.1
    done
    reg "$key" Name REG_SZ "Bench Sender"
    reg "$key" "SMTP Host" REG_SZ "127.0.0.1:$port"
    reg "$key" "Email Address" REG_SZ me@bench.test
    reg "$key" Account REG_SZ bench
    reg "$key" Password REG_SZ secret
    reg "$key" "SMTP Security" REG_DWORD 0
    scenario "a 7.5 MB message sent to smtp-sink" \
        loaded "mark startup" "command 32781" "sleep 300" idle "mark send" quit
    [ -z "$(ls "$work/install/OUTBOX")" ] || { echo "the message was not sent"; exit 1; }
else
    echo "== a 7.5 MB send: skipped (smtp-sink not found, package postfix)"
fi
