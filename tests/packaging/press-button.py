#!/usr/bin/python3
"""Presses a button of a running program through the accessibility bus, as a screen reader user
would: press-button.py PID NAME [TIMEOUT_S]. Finds the push button named NAME in the windows of the
application with process id PID and performs its default action. Exits 1 when it is not found."""
import sys
import time

import pyatspi


def find_button(node, name, depth=0):
    if node is None or depth > 30:
        return None
    try:
        if node.getRole() == pyatspi.ROLE_PUSH_BUTTON and node.name == name:
            return node
        children = list(node)
    except Exception:  # a window that goes away while it is walked
        return None
    for child in children:
        found = find_button(child, name, depth + 1)
        if found is not None:
            return found
    return None


def main():
    pid, name = int(sys.argv[1]), sys.argv[2]
    deadline = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) > 3 else 20.0)
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            try:
                if app is None or app.get_process_id() != pid:
                    continue
            except Exception:
                continue
            button = find_button(app, name)
            if button is not None:
                action = button.queryAction()
                for i in range(action.nActions):
                    if action.getName(i) in ("click", "press", "activate"):
                        action.doAction(i)
                        return 0
                action.doAction(0)
                return 0
        time.sleep(0.2)
    print(f"no button '{name}' in process {pid}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
