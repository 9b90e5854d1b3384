#!/usr/bin/python3
"""Walks Ostrel's Settings sidebar by keyboard while listening as a screen reader does.

Prints one JSON object: the sidebar's list of panes as AT-SPI shows it ("list"), then the focus
events heard while Tab reaches the sidebar and Down moves to the next pane ("events"), each with
the source's role, name and whether it is selected (Tab and Right in the Shelf pane's arrangement
picker among them), then the names of the push buttons of the
Folders pane, which three more Downs bring up ("buttons"). Every pane the Downs bring up, About
last, is read as a screen reader's review keys do ("read": the panes read), and what it would
stumble on is listed ("faults"): a window whose role says nothing, a shown stop without a name,
a group of choices without a name or without a chosen one. The named stops found on the way are
kept by role ("roles"), each group of choices with the one chosen ("groups"), and the roles of
the application's windows ("windows"). Exits 2 when no Settings window shows up.

Run with "focus", it walks every pane by the sidebar instead, reading each pane's heading as it
comes ("headings": the pane selected, with the role and name of the heading found) and the
pictures a screen reader would stumble on in the window ("pictures": images and empty unnamed
fillers shown), and Tabs into each segmented control, forward and back ("keys": for each key
pressed, the focus events it brought, in order, each with the source's role and name, whether it
is checked, and how many of its group's choices said they had the keyboard), then passes the
Shelf pane's arrangement picker with two Tabs taken at once, and back with two Shift-Tabs.
"""
import json
import os
import signal
import sys
import time

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from ScreenReaderSteps import find, find_window, key, run_steps  # noqa: E402


def decorations(window, holders, empty_only):
    """The roles of what a screen reader would stop at in `window` that says nothing: a shown
    image, or a nameless holder (of `holders`' roles; only an empty one with `empty_only`)."""
    found = []

    def walk(node, depth):
        if node is None or depth > 30:
            return
        role = node.getRoleName()
        if node.getState().contains(pyatspi.STATE_SHOWING) and (
                role == "image" or (role in holders and not node.name and
                                    not (empty_only and node.childCount))):
            found.append(role)
        for child in node:
            walk(child, depth + 1)

    walk(window, 0)
    return found


def settings_window():
    """The Settings window and its list of panes; no window (said on stdout) when none came."""
    window = find_window(lambda w: w.name == "Settings", time.monotonic() + 15)
    if window is None:
        print(json.dumps({"error": "no Settings window"}))
        return None, None
    return window, find(window, lambda node: node.getRoleName() == "list")


def update_window():
    """Run with "update": on the About pane (Tab, End), presses "Check for Updates" (Tab, Space)
    and listens as the update window comes up on its check and the check fails: "focus" holds
    each focus event heard after the press, in order, with the source's role, name, description
    and the name of the window it lies in. Then it reads the update window: "window" holds its
    role, the name of what has the focus in it, and, as "nameless", the role of each shown
    picture or nameless filler in it, which a screen reader would stop at for nothing. Exits 2
    when no Settings window shows up."""
    settings = find_window(lambda w: w.name == "Settings", time.monotonic() + 15)
    if settings is None:
        print(json.dumps({"error": "no Settings window"}))
        return 2
    result = {"focus": None, "window": {}}

    def heard(event):
        if event.detail1 != 1 or result["focus"] is None:
            return
        try:
            source = event.source
            top = source
            for _ in range(30):
                if top.parent is None or top.parent.getRoleName() == "application":
                    break
                top = top.parent
            result["focus"].append({"role": source.getRoleName(), "name": source.name,
                                    "description": source.description, "window": top.name})
        except Exception:  # the source went away meanwhile
            return

    pyatspi.Registry.registerEventListener(heard, "object:state-changed:focused")

    def press():
        result["focus"] = []
        key("space")

    def read():
        window = find_window(lambda w: w.name == "Software Update", time.monotonic() + 2)
        if window is None:
            return
        focused = find(window, lambda n: n.getState().contains(pyatspi.STATE_FOCUSED))
        result["window"] = {"role": window.getRoleName(),
                            "focused": focused.name if focused is not None else None,
                            "nameless": decorations(window, ("filler", "panel"), False)}

    steps = [(500, lambda: key("Tab")), (300, lambda: key("End")), (700, lambda: key("Tab")),
             (500, press), (2000, read)]
    return run_steps(steps, result)


def main():
    window, panes = settings_window()
    if window is None:
        return 2
    result = {"list": [child.name for child in panes] if panes is not None else [],
              "listName": panes.name if panes is not None else "", "events": []}

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
    result.update({"read": [], "faults": [], "roles": {}, "groups": {}, "windows": {}})

    def review():
        pane = next((c.name for c in panes if c.getState().contains(pyatspi.STATE_SELECTED)),
                    "?") if panes is not None else "?"
        result["read"].append(pane)
        faults = result["faults"]
        for app in pyatspi.Registry.getDesktop(0):
            if app is None or app.name != "Ostrel":
                continue
            for other in app:
                if other is None:
                    continue
                result["windows"][other.name] = other.getRoleName()
                if other.getRoleName() in ("filler", "panel", "unknown"):
                    faults.append("window %r reads as %s" % (other.name, other.getRoleName()))

        def walk(node, depth):
            if node is None or depth > 30:
                return
            state = node.getState()
            role = node.getRoleName()
            if state.contains(pyatspi.STATE_SHOWING) and state.contains(pyatspi.STATE_FOCUSABLE):
                if not node.name:
                    faults.append("%s: a %s without a name" % (pane, role))
                else:
                    result["roles"][node.name] = role
            choices = [c for c in node if c is not None and
                       c.getRoleName() in ("radio button", "page tab")]
            if choices:
                chosen = [c.name for c in choices if c.getState().contains(pyatspi.STATE_CHECKED)
                          or c.getState().contains(pyatspi.STATE_SELECTED)]
                if not node.name or len(chosen) != 1:
                    faults.append("%s: choices %r with %d chosen" % (pane, node.name, len(chosen)))
                result["groups"][node.name] = chosen[0] if chosen else ""
            for child in node:
                walk(child, depth + 1)

        walk(window, 0)

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

    steps = [(500, lambda: key("Tab")), (600, review)]
    for pane in range(4):
        steps += [(100, lambda: key("Down")), (700, review)]
        if pane == 1:
            # Into the Shelf pane's first control, the arrangement picker; Right chooses the
            # other segment; back to the sidebar.
            steps += [(100, lambda: key("Tab")), (500, lambda: key("Right")),
                      (500, lambda: key("shift+Tab"))]
    steps += [(100, buttons), (100, lambda: key("Down")), (700, review)]
    return run_steps(steps, result)


def focus_and_headings():
    window, panes = settings_window()
    if window is None:
        return 2
    result = {"keys": [], "headings": {}, "pictures": {}}

    def heard(event):
        if event.detail1 != 1 or not result["keys"]:
            return
        try:
            source = event.source
            focused = 0
            if source.getRoleName() == "radio button":
                # Asked of the application, not of what the registry last heard.
                choices = [c for c in source.parent if c is not None]
                for c in choices:
                    c.clearCache()
                focused = sum(1 for c in choices if c.getState().contains(pyatspi.STATE_FOCUSED))
            result["keys"][-1]["heard"].append({
                "role": source.getRoleName(),
                "name": source.name,
                "checked": source.getState().contains(pyatspi.STATE_CHECKED),
                "focusedChoices": focused,
            })
        except Exception:  # the source went away meanwhile
            return

    pyatspi.Registry.registerEventListener(heard, "object:state-changed:focused")
    # Names change as panes do; hearing of it keeps the names read here current.
    pyatspi.Registry.registerEventListener(lambda e: None, "object:property-change:accessible-name")

    def press(name):
        def step():
            result["keys"].append({"key": name, "heard": []})
            key(name)
        return step

    def press_at_once(*names):
        # Held still while the keys go in, the application takes them all before it next looks at
        # what it put off: the picker has the keyboard and has lost it before it can tell of it.
        def step():
            result["keys"].append({"key": " ".join(names), "heard": []})
            pid = window.get_process_id()
            os.kill(pid, signal.SIGSTOP)
            try:
                key(*names)
                time.sleep(0.2)
            finally:
                os.kill(pid, signal.SIGCONT)
        return step

    def read_pane():
        pane = next((c.name for c in panes if c.getState().contains(pyatspi.STATE_SELECTED)),
                    "?") if panes is not None else "?"
        heading = find(window, lambda n: n.getRoleName() == "heading")
        result["headings"][pane] = {"role": "heading", "name": heading.name} if heading else None
        result["pictures"][pane] = decorations(window, ("filler",), True)

    steps = [(500, press("Tab")), (600, read_pane),
             # Displays: into the style picker and back.
             (100, press("Down")), (700, read_pane), (100, press("Tab")),
             (500, press("shift+Tab")),
             # Shelf: the arrangement picker, the switch, the signal picker, and back again.
             (500, press("Down")), (700, read_pane), (100, press("Tab")), (500, press("Tab")),
             (500, press("Tab")), (500, press("shift+Tab")), (500, press("shift+Tab")),
             (500, press("shift+Tab")),
             # Through the arrangement picker at once, there and back.
             (500, press_at_once("Tab", "Tab")), (500, press_at_once("shift+Tab", "shift+Tab"))]
    for _ in range(3):
        steps += [(500, press("Down")), (700, read_pane)]
    return run_steps(steps, result)


if __name__ == "__main__":
    readers = {"update": update_window, "focus": focus_and_headings}
    sys.exit(readers[sys.argv[1]]() if sys.argv[1:] and sys.argv[1] in readers else main())
