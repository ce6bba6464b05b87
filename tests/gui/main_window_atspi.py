#!/usr/bin/python3
# The main window as a screen reader sees it: the folder tree, the message list, the status
# line, every toolbar button named by its tool tip, and the animation. Exit 0 when all is well.
import sys
import time

import pyatspi

EXPECTED_NAMES = {"Folders", "Messages", "Status", "Transmitting",
                  "Create a new Quillion EMail(tm) message"}
TOOLBAR_BUTTONS = 9


def find_app(name, timeout):
    end = time.time() + timeout
    while time.time() < end:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name:
                return app
        time.sleep(0.2)
    return None


def walk(node, nodes, depth=0):
    if node is None or depth > 40:
        return
    try:
        nodes.append((node.getRoleName(), node.name or "", node.description or "", node))
    except Exception:
        return
    for child in node:
        walk(child, nodes, depth + 1)


def toolbar_buttons(nodes):
    for role, name, _, node in nodes:
        if role == "tool bar":
            # What is not showing (the overflow button of a toolbar that has room) is not met.
            return [(child.getRoleName(), child.name or "", child.description or "")
                    for child in node if child.getRoleName() == "push button"
                    and child.getState().contains(pyatspi.STATE_SHOWING)]
    return []


def main():
    app = find_app(sys.argv[1] if len(sys.argv) > 1 else "korrin", 20)
    if app is None:
        print("the window never appeared on the accessibility bus")
        return 1
    nodes, buttons = [], []
    # Qt fills the tree as it is asked; later looks see what the first one woke up.
    for _ in range(6):
        nodes = []
        walk(app, nodes)
        buttons = toolbar_buttons(nodes)
        if EXPECTED_NAMES <= {n[1] for n in nodes} and len(buttons) == TOOLBAR_BUTTONS:
            break
        time.sleep(0.5)
    names = {n[1] for n in nodes}
    problems = []
    for name in sorted(EXPECTED_NAMES - names):
        problems.append("nothing named %r" % name)
    if len(buttons) != TOOLBAR_BUTTONS:
        problems.append("%d toolbar buttons, not %d" % (len(buttons), TOOLBAR_BUTTONS))
    for role, name, description in buttons:
        # A button's name is its tool tip, which Qt gives as the description as well.
        if not name or (description and description != name):
            problems.append("toolbar button %r (tool tip %r)" % (name, description))
    roles = {n[1]: n[0] for n in nodes if n[1] in EXPECTED_NAMES}
    if roles.get("Status") not in ("text", "entry", None):
        problems.append("the status line is a %s" % roles.get("Status"))
    for name, role in sorted(roles.items()):
        print("%s: %s" % (role, name))
    for _, name, description in buttons:
        print("toolbar: %s" % name)
    for p in problems:
        print("problem:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
