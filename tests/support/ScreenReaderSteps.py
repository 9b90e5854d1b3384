"""What the end-to-end screen-reader scripts share: finding Ostrel's windows and what is in them,
pressing keys as the user would, and running their steps on a timeline while the registry
listens, then printing what they heard."""
import json
import subprocess
import time

import pyatspi
from gi.repository import GLib


def find_window(wanted, deadline):
    """The first window of the Ostrel application for which `wanted` holds, looked for until
    `deadline` (a time.monotonic() value); None when none shows up."""
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is None or app.name != "Ostrel":
                continue
            for window in app:
                if window is not None and wanted(window):
                    return window
        time.sleep(0.1)
    return None


def find(node, wanted, depth=0):
    """The first node at or below `node` for which `wanted` holds, no deeper than any real tree."""
    if wanted(node):
        return node
    if depth > 30:
        return None
    for child in node:
        found = find(child, wanted, depth + 1) if child is not None else None
        if found is not None:
            return found
    return None


def key(*names):
    """Presses each key in turn, with no pause between them."""
    subprocess.run(["xdotool", "key", "--delay", "0", *names], check=False)


def run_steps(steps, result):
    """Runs each (wait in ms, step) after the one before it, then stops listening and prints the
    result as one JSON object. The waits give the application time to hear of the listeners or
    to act on the last step."""
    delay = 0
    for wait, step in steps + [(800, pyatspi.Registry.stop)]:
        delay += wait
        GLib.timeout_add(delay, lambda step=step: step() and False)
    pyatspi.Registry.start()
    print(json.dumps(result))
    return 0
