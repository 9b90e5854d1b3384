#!/usr/bin/python3
"""Debian's screen reader, Orca, as a test runs it: on the session bus and display it is given,
with its preferences in the folder named by the first argument, speaking to no synthesizer, and
printing each utterance as "SPEECH OUTPUT: '…'" on stdout the moment it is made.

Run as /usr/bin/orca runs it, less what does not suit a test: Orca refuses to start while another
Orca of the same user runs (parallel tests, a user's own), waits about 30 s for a speech service
that is not there, and keeps its speech log in memory."""
import logging
import sys


class Said(logging.Handler):
    def emit(self, record):
        print(record.getMessage(), flush=True)


def main():
    if len(sys.argv) != 2:
        print("usage: OrcaSpeech.py PREFERENCES_FOLDER", file=sys.stderr)
        return 2
    # Orca's speech log: a logger it adds its own in-memory handler to, and leaves ours on.
    logging.getLogger("speech").addHandler(Said())
    from orca import orca
    # No speech factory: Orca logs what it would say and waits for no service. The keys pressed
    # are not echoed: what is said is what the application tells.
    orca.getSettingsManager().activate(sys.argv[1], {"speechServerFactory": "",
                                                     "speechFactoryModules": [],
                                                     "enableKeyEcho": False,
                                                     "enableSound": False,
                                                     "enableBraille": False})
    return orca.main()


if __name__ == "__main__":
    sys.exit(main())
