#!/bin/bash
# Runs the composer under Xvfb on a private session bus with the accessibility bus, and checks
# it from outside with player_atspi.py. Exit 77 (skipped) when the machine lacks the tools.
# Usage: player_atspi.sh BUILD_DIR SOURCE_DIR
set -u
build=$1
source=$2
for tool in /usr/bin/Xvfb /usr/bin/dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    [ -x "$tool" ] || { echo "skipped: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: no pyatspi"; exit 77; }

work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -rf "$work"' EXIT
# A display number nobody uses: Xvfb picks it and writes it to the descriptor.
exec 5> "$work/display"
/usr/bin/Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n1 "$work/display")"
[ "$display" != ":" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }

export DISPLAY=$display QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export KORRIN_REGISTRY=$work/registry.db KORRIN_AUDIO=virtual KORRIN_MIXER=virtual
export KORRIN_MESSAGE_LOG=$work/messages.log KORRIN_MESSAGE_ANSWERS= XDG_RUNTIME_DIR=$work
export NO_AT_BRIDGE=0 GTK_A11Y=atspi
# An empty 8-bit mono wave file: the composer's working file.
printf 'RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x40\x1f\x00\x00\x01\x00\x08\x00data\x00\x00\x00\x00' > "$work/new.wav"

dbus-run-session -- bash -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately > "'"$work"'/bus.log" 2>&1 &
    bus=$!
    sleep 1
    "'"$build"'/player_window" compose "'"$work"'/new.wav" 0 30000 > "'"$work"'/window.log" 2>&1 &
    window=$!
    /usr/bin/python3 "'"$source"'/tests/gui/player_atspi.py" player_window
    status=$?
    kill $window $bus 2>/dev/null
    wait $window $bus 2>/dev/null
    exit $status'
