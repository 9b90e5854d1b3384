#!/usr/bin/python3
"""Reads Ostrel's open shelf over AT-SPI as a screen reader does, and acts as its user would.

Prints one JSON object: the shelf window's accessible tree ("tree"), then the focus and
selection events seen while it presses the filter button through its accessible action, walks
into the menu that opens with Down, closes it with Escape and moves the shelf's selection with
Right ("events"). Exits 2 when the application or its shelf window does not show up.
"""
import json
import os
import sys
import time

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from ScreenReaderSteps import find, find_window, key, run_steps  # noqa: E402


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


def main():
    window = find_window(lambda w: w.childCount > 0, time.monotonic() + 15)
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

    def press_filters():
        button = find(window, lambda node: node.name == "Filters")
        if button is not None:
            button.queryAction().doAction(0)
        return False

    return run_steps([(400, press_filters), (700, lambda: key("Down")),
                      (500, lambda: key("Escape")), (600, lambda: key("Right"))], result)


if __name__ == "__main__":
    sys.exit(main())
