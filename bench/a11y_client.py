#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""An accessibility client for the benchmark: listens to every name change
in the accessibility tree and reads the changed object's name, as a screen
reader that follows the monitor lines would. Runs until SIGTERM, then prints
how many changes it heard and how many characters it read."""

import signal
import sys

import pyatspi

heard = 0
characters = 0


def on_name(event):
    global heard, characters
    heard += 1
    characters += len(event.source.name or "")


def stop(*_):
    pyatspi.Registry.stop()


signal.signal(signal.SIGTERM, stop)
pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
print("listening", flush=True)
pyatspi.Registry.start()
print("client heard %d name changes and read %d characters" % (heard, characters), file=sys.stderr, flush=True)
