#!/usr/bin/env bash
# Sends a 7.5 MB message file (about 10 MB of MIME) to Postfix's smtp-sink on loopback, once as
# the program sends it (composing and encoding included) and once with curl sending the same
# mail already encoded; prints the median of several runs of each, in one run.
#
#   bench/smtp_sink_compare.sh [BUILD_DIR] [RUNS]
#
# Needs smtp-sink (package postfix, installed by scripts/install-deps.sh without starting the
# mail system) and curl. smtp-sink is started here on a free loopback port and stopped by its
# process id at the end.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-7}
sink=$(command -v smtp-sink || echo /usr/sbin/smtp-sink)
[ -x "$sink" ] || { echo "smtp_sink_compare: smtp-sink not found (postfix), skipped"; exit 0; }
command -v curl >/dev/null || { echo "smtp_sink_compare: curl not found, skipped"; exit 0; }
[ -x "$build/smtp_send_timer" ] || { echo "build smtp_send_timer first (KORRIN_BENCH=ON)"; exit 1; }

work=$(mktemp -d)
sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null && wait "$sink_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

head -c 7500000 /dev/urandom >"$work/KX1O.kx0"
"$build/smtp_send_timer" mime "$work/KX1O.kx0" "$work/mail.eml"

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
user=()
[ "$(id -u)" -eq 0 ] && user=(-u nobody)
"$sink" "${user[@]}" 127.0.0.1:"$port" 64 &
sink_pid=$!
for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break
    sleep 0.1
done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Both timed the same way, a whole process per send, alternating.
curl_times=()
korrin_times=()
for _ in $(seq "$runs"); do
    t0=$(now_ms)
    curl -s --url "smtp://127.0.0.1:$port" --mail-from me@bench.test \
        --mail-rcpt a1@bench.test --upload-file "$work/mail.eml"
    curl_times+=($(( $(now_ms) - t0 )))
    t0=$(now_ms)
    "$build/smtp_send_timer" send "$work/KX1O.kx0" "127.0.0.1:$port" 1 >/dev/null
    korrin_times+=($(( $(now_ms) - t0 )))
done
korrin_ms=$(printf '%s\n' "${korrin_times[@]}" | median)
curl_ms=$(printf '%s\n' "${curl_times[@]}" | median)

size=$(stat -c %s "$work/mail.eml")
echo "message file 7500000 bytes, MIME $size bytes, $runs runs each, median:"
echo "  korrin (encodes and sends): ${korrin_ms} ms"
echo "  curl (sends the encoded mail): ${curl_ms} ms"
