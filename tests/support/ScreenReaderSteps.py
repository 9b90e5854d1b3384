"""What the end-to-end screen-reader scripts share: pressing keys as the user would, and running
their steps on a timeline while the registry listens, then printing what they heard."""
import json
import subprocess

import pyatspi
from gi.repository import GLib


def key(name):
    subprocess.run(["xdotool", "key", name], check=False)


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
