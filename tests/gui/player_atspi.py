#!/usr/bin/python3
# The message window as a screen reader sees it: walks the accessibility tree of a running
# player_window and checks that every button, edit box, slider and check box carries a name,
# and that the named controls of the composer are there. Exit 0 when all is well.
import sys
import time

import pyatspi

EXPECTED = {
    ("text", "To:"), ("text", "Cc:"), ("text", "Bcc:"), ("text", "Subject:"), ("text", "Memo:"),
    ("slider", "Position"), ("slider", "Volume"), ("check box", "Mute"),
    ("push button", "Play"), ("push button", "Stop"), ("push button", "Record"),
    ("push button", "Rewind"), ("push button", "Forward"), ("push button", "Begin"),
    ("push button", "End"), ("push button", "Pause"), ("push button", "Send Mail"),
}
NAMED_ROLES = {"push button", "text", "slider", "check box", "toggle button"}


def find_app(name, timeout):
    end = time.time() + timeout
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        time.sleep(0.2)
    return None


def walk(node, found, unnamed, depth=0):
    if node is None or depth > 40:
        return
    try:
        role = node.getRoleName()
        states = node.getState()
        showing = states.contains(pyatspi.STATE_SHOWING)
        name = node.name
    except Exception:
        return
    if showing and role in NAMED_ROLES:
        found.add((role, name))
        if not name:
            unnamed.append(role)
    for child in node:
        walk(child, found, unnamed, depth + 1)


def main():
    app = find_app(sys.argv[1] if len(sys.argv) > 1 else "player_window", 20)
    if app is None:
        print("the window never appeared on the accessibility bus")
        return 1
    found, unnamed = set(), []
    # Qt fills the tree as it is asked; a second look sees what the first one woke up.
    for _ in range(3):
        found.clear()
        unnamed.clear()
        walk(app, found, unnamed)
        if EXPECTED <= found:
            break
        time.sleep(0.5)
    missing = sorted(EXPECTED - found)
    for role, name in sorted(found):
        print("%s: %s" % (role, name))
    if missing:
        print("missing:", missing)
    if unnamed:
        print("without a name:", unnamed)
    return 1 if missing or unnamed else 0


if __name__ == "__main__":
    sys.exit(main())
