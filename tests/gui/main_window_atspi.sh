#!/bin/bash
# Runs the real program's main window under Xvfb on a private session bus with the
# accessibility bus, and checks it from outside with main_window_atspi.py, as a screen reader
# would meet it. Exit 77 (skipped) only when the accessibility bus cannot be started; anything
# else missing is a failure.
# Usage: main_window_atspi.sh BUILD_DIR SOURCE_DIR
set -u
build=$1
source=$2
for tool in /usr/bin/Xvfb /usr/bin/dbus-run-session /usr/bin/dbus-send \
            /usr/libexec/at-spi-bus-launcher; do
    [ -x "$tool" ] || { echo "skipped: the accessibility bus cannot start: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
    { echo "python3-pyatspi is missing (scripts/install-deps.sh)"; exit 1; }

work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && { kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; }; rm -rf "$work"' EXIT
exec 5> "$work/display"
/usr/bin/Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n1 "$work/display")"
[ "$display" != ":" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }

export DISPLAY=$display QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export KORRIN_REGISTRY=$work/registry.db KORRIN_AUDIO=virtual KORRIN_MIXER=virtual
export KORRIN_MESSAGE_LOG=$work/messages.log KORRIN_MESSAGE_ANSWERS= XDG_RUNTIME_DIR=$work
export KORRIN_WINDIR=$work/tools NO_AT_BRIDGE=0
mkdir -p "$work/install/SENT" "$work/install/OUTBOX" "$work/install/DELETED" "$work/tools"
chmod 700 "$work"
"$build/korrinctl" reg set 'HKLM\SOFTWARE\Quillion\Quillion EMail for Windows (tm)' InstallDir \
    REG_SZ "$work/install" > /dev/null || exit 1

dbus-run-session -- bash -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately > "'"$work"'/bus.log" 2>&1 &
    bus=$!
    up=0
    for _ in $(seq 50); do
        if /usr/bin/dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
            org.a11y.Bus.GetAddress > /dev/null 2>&1; then up=1; break; fi
        sleep 0.1
    done
    if [ $up = 0 ]; then
        echo "skipped: the accessibility bus did not start"; cat "'"$work"'/bus.log"
        kill $bus 2>/dev/null; wait $bus 2>/dev/null; exit 77
    fi
    "'"$build"'/korrin" > "'"$work"'/window.log" 2>&1 &
    window=$!
    /usr/bin/python3 "'"$source"'/tests/gui/main_window_atspi.py" korrin
    status=$?
    kill $window 2>/dev/null; wait $window 2>/dev/null
    kill $bus 2>/dev/null; wait $bus 2>/dev/null
    [ $status = 0 ] || cat "'"$work"'/window.log"
    exit $status'
