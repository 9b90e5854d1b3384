#!/usr/bin/python3
"""Walks Ostrel's Settings sidebar by keyboard while listening as a screen reader does.

Prints one JSON object: the sidebar's list of panes as AT-SPI shows it ("list"), then the focus
events heard while Tab reaches the sidebar and Down moves to the next pane ("events"), each with
the source's role, name and whether it is selected. Exits 2 when no Settings window shows up.
"""
import json
import os
import sys
import time

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from ScreenReaderSteps import key, run_steps  # noqa: E402


def find_settings(deadline):
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is None or app.name != "Ostrel":
                continue
            for window in app:
                if window is not None and window.name == "Settings":
                    return window
        time.sleep(0.1)
    return None


def find_role(node, role, depth=0):
    if node.getRoleName() == role:
        return node
    if depth > 30:
        return None
    for child in node:
        found = find_role(child, role, depth + 1) if child is not None else None
        if found is not None:
            return found
    return None


def main():
    window = find_settings(time.monotonic() + 15)
    if window is None:
        print(json.dumps({"error": "no Settings window"}))
        return 2
    panes = find_role(window, "list")
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

    return run_steps([(500, lambda: key("Tab")), (600, lambda: key("Down"))], result)


if __name__ == "__main__":
    sys.exit(main())
