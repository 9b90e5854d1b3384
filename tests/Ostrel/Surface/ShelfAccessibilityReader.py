#!/usr/bin/python3
"""Reads Ostrel's open shelf over AT-SPI as a screen reader does, and acts as its user would.

Prints one JSON object: the shelf window's accessible tree ("tree"), then the focus and
selection events seen while it presses the filter button through its accessible action, walks
into the menu that opens with Down, closes it with Escape and moves the shelf's selection with
Right ("events"). Exits 2 when the application or its shelf window does not show up.
"""
import json
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib


def find_shelf(deadline):
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is None or app.name != "Ostrel":
                continue
            for window in app:
                if window is not None and window.childCount > 0:
                    return window
        time.sleep(0.1)
    return None


def describe(node):
    try:
        actions = node.queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
    except NotImplementedError:
        names = []
    states = node.getState()
    return {
        "role": node.getRoleName(),
        "name": node.name,
        "description": node.description,
        "selected": states.contains(pyatspi.STATE_SELECTED),
        "focused": states.contains(pyatspi.STATE_FOCUSED),
        "actions": names,
        "children": [describe(child) for child in node if child is not None],
    }


def find(node, name):
    if node.name == name:
        return node
    for child in node:
        found = find(child, name) if child is not None else None
        if found is not None:
            return found
    return None


def main():
    window = find_shelf(time.monotonic() + 15)
    if window is None:
        print(json.dumps({"error": "no shelf window"}))
        return 2
    result = {"window": window.name, "tree": describe(window), "events": []}

    def heard(event):
        if event.detail1 != 1:
            return
        try:
            name = event.source.name
            role = event.source.getRoleName()
        except Exception:  # the source went away meanwhile
            return
        result["events"].append({"type": event.type, "name": name, "role": role})

    pyatspi.Registry.registerEventListener(heard, "object:state-changed:focused",
                                           "object:state-changed:selected")

    def key(name):
        subprocess.run(["xdotool", "key", name], check=False)

    def press_filters():
        button = find(window, "Filters")
        if button is not None:
            button.queryAction().doAction(0)
        return False

    # Each step waits for the application to hear of the listeners or to act on the last one.
    steps = [(400, press_filters), (700, lambda: key("Down")), (500, lambda: key("Escape")),
             (600, lambda: key("Right")), (800, pyatspi.Registry.stop)]
    delay = 0
    for wait, step in steps:
        delay += wait
        GLib.timeout_add(delay, lambda step=step: step() and False)
    pyatspi.Registry.start()
    print(json.dumps(result))
    return 0


if __name__ == "__main__":
    sys.exit(main())
