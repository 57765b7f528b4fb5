#!/usr/bin/env python3
"""Reads the questionnaire dialog of a running test program through the accessibility bus.

Usage: questionnaire_a11y.py PID TITLE

Finds the application with process id PID on the AT-SPI registry, then its window named TITLE,
and prints one line per edit field and list inside it, tab-separated:
    role, accessible name, current text (a field's content, a list's selected item),
    names of the objects it is labelled by (joined by '|'), a list's items in order (joined by '|').
Exits 0 after printing, 2 when the application or window did not appear within the time limit.
Every step is bounded, so a broken bus makes the script fail instead of hanging.
"""
import sys
import time

import pyatspi

FIELD_ROLES = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_PASSWORD_TEXT}
SEARCH_SECONDS = 20


def find_window(pid, title):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        try:
            if app is None or app.get_process_id() != pid:
                continue
            for window in app:
                if window is not None and window.name == title:
                    return window
        except Exception:  # an application that goes away while we look
            continue
    return None


def current_text(node):
    if node.getRole() == pyatspi.ROLE_COMBO_BOX:
        # A list's selection is its chosen item.
        selection = node.querySelection()
        if selection.nSelectedChildren > 0:
            return selection.getSelectedChild(0).name
        return ""
    try:
        text = node.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return ""


def list_items(node):
    """The items of a list, in order: the menu items of its drop-down menu."""
    items = []
    if node.getRole() == pyatspi.ROLE_COMBO_BOX:
        for menu in node:
            if menu is not None and menu.getRole() == pyatspi.ROLE_MENU:
                items.extend(item.name for item in menu if item is not None)
    return "|".join(items)


def labelled_by(node):
    names = []
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            for i in range(relation.getNTargets()):
                names.append(relation.getTarget(i).name)
    return "|".join(names)


def walk(node, out, depth=0):
    if node is None or depth > 30:
        return
    role = node.getRole()
    if role in FIELD_ROLES:
        out.append((node.getRoleName(), node.name, current_text(node), labelled_by(node), list_items(node)))
        if role == pyatspi.ROLE_COMBO_BOX:
            return  # its menu items are the list's items, not fields
    for child in node:
        walk(child, out, depth + 1)


def main():
    pid = int(sys.argv[1])
    title = sys.argv[2]
    deadline = time.monotonic() + SEARCH_SECONDS
    window = None
    while window is None and time.monotonic() < deadline:
        window = find_window(pid, title)
        if window is None:
            time.sleep(0.2)
    if window is None:
        print(f"no window {title!r} of process {pid} on the accessibility bus", file=sys.stderr)
        return 2
    rows = []
    walk(window, rows)
    for row in rows:
        print("\t".join(value.replace("\t", " ").replace("\n", "\\n") for value in row))
    return 0


if __name__ == "__main__":
    sys.exit(main())
