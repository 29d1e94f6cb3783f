#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The panel as a screen reader sees it, read from outside the program.

Run inside a private D-Bus session (dbus-run-session -- atspi_status.py PANEL SIM):
starts at-spi2-core's accessibility bus, says that a screen reader is running
(as Orca does), starts Xvfb, the simulated projector and the panel on it, then
reads the panel's accessibility tree through AT-SPI (python3-pyatspi):

- every button has a name that says what it does, no two alike, and the
  buttons that send say what they send;
- the TXD, RXD and STATUS lines are labels, labelled by their captions;
- "Query status" pressed through AT-SPI: the STATUS line's reading is heard
  through its name-changed event and read back; the time from the
  simulator's answer to the client holding the reading is printed;
- the display hold empties the three lines again;
- "End the program" ends it.
"""

import subprocess
import sys
import threading
import time

from desktop_session import Session

PANEL, SIM = sys.argv[1], sys.argv[2]
TIMEOUT = 15.0
session = Session(TIMEOUT)
check, start, wait_for = session.check, session.start, session.wait_for


def main():
    session.start_desktop()
    from gi.repository import GLib

    # The simulated projector; its log says when it answers.
    sim = start([SIM, "--verbose"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    device = sim.stdout.readline().strip()
    if not device:
        sys.exit("mv70-sim did not start")
    answered = {}

    def read_log():
        for line in sim.stderr:
            if line.startswith('"CR0" ->') and "CR0" not in answered:
                answered["CR0"] = time.monotonic()

    threading.Thread(target=read_log, daemon=True).start()

    panel = start([PANEL], env=session.panel_env(MV70_COM1=device))

    import pyatspi

    def find_panel():
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            try:
                if app is not None and app.get_process_id() == panel.pid:
                    for window in app:
                        if window is not None and window.name.startswith("OLVA"):
                            return app
            except Exception:
                pass
        return None

    app = wait_for(find_panel)
    if not app:
        sys.exit("the panel's window never appeared in the accessibility tree")

    everything = []

    def walk(node):
        everything.append(node)
        for child in node:
            if child is not None:
                walk(child)

    walk(app)
    buttons = [n for n in everything if n.getRoleName() == "push button"]
    labels = [n for n in everything if n.getRoleName() == "label"]
    print(len(everything), "objects,", len(buttons), "buttons", flush=True)
    for button in buttons:
        print("  button: %-32s %s" % (button.name, button.description))

    # Every button by its meaning.
    names = [b.name for b in buttons]
    check(len(buttons) >= 54, "all the buttons are in the tree (%d)" % len(buttons))
    check(all(names), "every button has a name")
    check(len(set(names)) == len(names), "no two buttons have the same name: %s"
          % sorted(n for n in set(names) if names.count(n) > 1))
    bare = {"ON", "OFF", "+", "-", "↑", "↓", "←", "→"}
    check(not bare & set(names), "no button is named by a bare caption: %s" % sorted(bare & set(names)))
    by_name = {b.name: b for b in buttons}
    for name, description in [("Power on", "sends C00"), ("Volume up", "sends C09 while held"),
                              ("Cursor up", "sends C3C while held"), ("Picture mode Cinema", "sends C13"),
                              ("Query status", "sends CR0"), ("Query lamp time", "sends CR3"),
                              ("Send typed command", ""), ("End the program", "")]:
        check(name in by_name, "a button named %r" % name)
        if name in by_name:
            check(by_name[name].description == description,
                  "%r says %r, not %r" % (name, by_name[name].description, description))
    check(any(n.name == "POWER" and n.getRoleName() in ("panel", "grouping") for n in everything),
          "the POWER frame is a group named POWER")

    # The three lines, labelled by their captions.
    lines = {}
    for caption in ("TXD", "RXD", "STATUS"):
        label = next((n for n in labels if n.name == caption), None)
        check(label is not None, "a label %s" % caption)
        if label is None:
            continue
        targets = [r.getTarget(0) for r in label.getRelationSet()
                   if r.getRelationType() == pyatspi.RELATION_LABEL_FOR]
        check(len(targets) == 1, "%s labels one line" % caption)
        if targets:
            line = targets[0]
            lines[caption] = line
            check(line.getRoleName() == "label", "the %s line is a label (%s)" % (caption, line.getRoleName()))
            back = [r.getTarget(0).name for r in line.getRelationSet()
                    if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
            check(back == [caption], "the %s line is labelled by %s (%s)" % (caption, caption, back))
    if len(lines) != 3:
        return
    check(all(line.name == "" for line in lines.values()), "the lines are empty at start")

    # A STATUS query, pressed as a screen-reader user would, and its reading
    # heard through the line's name-changed event.
    heard = {}

    def on_name(event):
        if event.source == lines["STATUS"] and "STATUS" not in heard:
            name = event.source.name
            if name.strip():
                heard["STATUS"] = (time.monotonic(), name)
                pyatspi.Registry.stop()

    def press_status():
        pyatspi.Registry.stop()  # the first run only registers the listener
        return False

    pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
    GLib.timeout_add(100, press_status)
    pyatspi.Registry.start()
    action = by_name["Query status"].queryAction()
    action.doAction(0)
    GLib.timeout_add(int(TIMEOUT * 1000), lambda: pyatspi.Registry.stop() or False)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(on_name, "object:property-change:accessible-name")

    check("STATUS" in heard, "the STATUS reading was heard")
    if "STATUS" in heard:
        at, reading = heard["STATUS"]
        check(reading == " Stand by", "the reading is ' Stand by' (%r)" % reading)
        check(lines["STATUS"].name == reading, "the STATUS line reads back what was heard")
        if "CR0" in answered:
            print("STATUS reading heard %.1f ms after the simulator answered" % ((at - answered["CR0"]) * 1000),
                  flush=True)
    check("C R 0 CR" in lines["TXD"].name, "the TXD line holds the query (%r)" % lines["TXD"].name)
    check(" 8 0 CR" in lines["RXD"].name, "the RXD line holds the reply (%r)" % lines["RXD"].name)

    # The display hold empties the three lines.
    check(wait_for(lambda: all(line.name == "" for line in lines.values())),
          "the display hold empties the lines")

    by_name["End the program"].queryAction().doAction(0)
    try:
        code = panel.wait(TIMEOUT)
    except subprocess.TimeoutExpired:
        code = None
    check(code == 0, "END ends the program (exit code %s)" % code)


try:
    main()
finally:
    session.stop_all()
if session.failures:
    print(len(session.failures), "failure(s)")
    sys.exit(1)
print("PASS")
