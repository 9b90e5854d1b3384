#!/usr/bin/python3
"""Walks Ostrel's Settings sidebar by keyboard while listening as a screen reader does.

Prints one JSON object: the sidebar's list of panes as AT-SPI shows it ("list"), then the focus
events heard while Tab reaches the sidebar and Down moves to the next pane ("events"), each with
the source's role, name and whether it is selected, then the names of the push buttons of the
Folders pane, which three more Downs bring up ("buttons"). Exits 2 when no Settings window shows
up.
"""
import json
import os
import sys
import time

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from ScreenReaderSteps import find, find_window, key, run_steps  # noqa: E402


def main():
    window = find_window(lambda w: w.name == "Settings", time.monotonic() + 15)
    if window is None:
        print(json.dumps({"error": "no Settings window"}))
        return 2
    panes = find(window, lambda node: node.getRoleName() == "list")
    result = {"list": [child.name for child in panes] if panes is not None else [],
              "events": []}

    def heard(event):
        if event.detail1 != 1:
            return
        try:
            source = event.source
            result["events"].append({
                "type": event.type,
                "name": source.name,
                "role": source.getRoleName(),
                "selected": source.getState().contains(pyatspi.STATE_SELECTED),
            })
        except Exception:  # the source went away meanwhile
            return

    pyatspi.Registry.registerEventListener(heard, "object:state-changed:focused")

    def buttons():
        found = []

        def walk(node, depth):
            if node is None or depth > 30:
                return
            if node.getRoleName() == "push button" and node.getState().contains(
                    pyatspi.STATE_SHOWING):
                found.append(node.name)
            for child in node:
                walk(child, depth + 1)

        walk(window, 0)
        result["buttons"] = found

    return run_steps([(500, lambda: key("Tab")), (600, lambda: key("Down")),
                      (400, lambda: key("Down")), (400, lambda: key("Down")),
                      (400, lambda: key("Down")), (800, buttons)], result)


if __name__ == "__main__":
    sys.exit(main())
