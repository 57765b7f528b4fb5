#!/usr/bin/env python3
"""context_menu_a11y.py PID ENTRY: waits for a showing menu item named ENTRY of the application with
process id PID on the accessibility bus, prints the names of its menu's items, one a line, and
activates it. Exits 0 once activated, 2 when it did not appear within the time limit."""
import sys
import time

import pyatspi

SEARCH_SECONDS = 20


def find_item(node, name, depth=0):
    if node is None or depth > 30:
        return None
    if node.getRole() == pyatspi.ROLE_MENU_ITEM and node.name == name and \
            node.getState().contains(pyatspi.STATE_SHOWING):
        return node
    for child in node:
        found = find_item(child, name, depth + 1)
        if found is not None:
            return found
    return None


def search(pid, name):
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is not None and app.get_process_id() == pid:
                for window in app:
                    found = find_item(window, name)
                    if found is not None:
                        return found
        except Exception:  # an object that goes away while we look
            continue
    return None


def main():
    pid, name = int(sys.argv[1]), sys.argv[2]
    deadline = time.monotonic() + SEARCH_SECONDS
    item = None
    while item is None and time.monotonic() < deadline:
        item = search(pid, name)
        if item is None:
            time.sleep(0.2)
    if item is None:
        print(f"no menu item {name!r} of process {pid} on the accessibility bus", file=sys.stderr)
        return 2
    for sibling in item.parent:
        if sibling is not None and sibling.getRole() == pyatspi.ROLE_MENU_ITEM:
            print(sibling.name)
    action = item.queryAction()
    action.doAction(0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
