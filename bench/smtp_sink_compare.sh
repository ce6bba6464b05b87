#!/usr/bin/env bash
# Times `korrinctl send` as a user meets it (a whole process: settings and envelope read, the
# message composed, encoded and sent) against curl sending the same mail already encoded, both
# to Postfix's smtp-sink on loopback, alternating, and prints the medians and their ratio for a
# 7.5 MB message file (about 10 MB of MIME) and a 1 KB one.
#
#   bench/smtp_sink_compare.sh [BUILD_DIR] [RUNS]
#
# Needs smtp-sink (package postfix, installed by scripts/install-deps.sh without starting the
# mail system) and curl. smtp-sink is started here on a free loopback port and stopped by its
# process id at the end; the settings live in a database of their own under a temporary folder.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-9}
sink=$(command -v smtp-sink || echo /usr/sbin/smtp-sink)
[ -x "$sink" ] || { echo "smtp_sink_compare: smtp-sink not found (postfix), skipped"; exit 0; }
command -v curl >/dev/null || { echo "smtp_sink_compare: curl not found, skipped"; exit 0; }
for p in korrinctl smtp_bench_input; do
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

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
user=()
[ "$(id -u)" -eq 0 ] && user=(-u nobody)
"$sink" "${user[@]}" 127.0.0.1:"$port" 64 &
sink_pid=$!
for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break
    sleep 0.1
done

export KORRIN_REGISTRY="$work/registry.db"
export KORRIN_MESSAGE_LOG="$work/messages.log"
key='HKLM\SOFTWARE\Quillion\Korrin'
reg() { "$build/korrinctl" reg set "$key" "$1" "$2" "$3" >/dev/null; }
reg Name REG_SZ "Bench Sender"
reg "SMTP Host" REG_SZ "127.0.0.1:$port"
reg "Email Address" REG_SZ me@bench.test
reg Account REG_SZ bench
reg Password REG_SZ secret
reg "SMTP Security" REG_DWORD 0

now_ns() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# One size: both timed the same way, a whole process per send, alternating.
compare() {
    local size=$1 label=$2
    local file="$work/KX1O.kx0" mail="$work/mail.eml"
    rm -f "$file"
    "$build/smtp_bench_input" message "$size" "$file"
    "$build/smtp_bench_input" mime "$file" "$mail"
    local curl_times=() korrin_times=() t0
    for _ in $(seq "$runs"); do
        t0=$(now_ns)
        curl -s --url "smtp://127.0.0.1:$port" --mail-from me@bench.test \
            --mail-rcpt a1@bench.test --upload-file "$mail"
        curl_times+=($(( ($(now_ns) - t0) / 1000 )))
        t0=$(now_ns)
        "$build/korrinctl" send "$file" >/dev/null
        korrin_times+=($(( ($(now_ns) - t0) / 1000 )))
    done
    local k c
    k=$(printf '%s\n' "${korrin_times[@]}" | median)
    c=$(printf '%s\n' "${curl_times[@]}" | median)
    echo "$label message file ($size bytes, MIME $(stat -c %s "$mail") bytes), $runs runs each, median:"
    awk -v k="$k" -v c="$c" 'BEGIN {
        printf "  korrinctl send (reads settings, encodes, sends): %.1f ms\n", k / 1000
        printf "  curl (sends the encoded mail):                   %.1f ms\n", c / 1000
        printf "  ratio korrinctl/curl: %.2f\n", k / c }'
}

compare 7500000 "large"
compare 1024 "small"
