#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What Orca, the screen reader, says while the panel works.

Run inside a private D-Bus session (dbus-run-session -- orca_speaks.py PANEL SIM):
starts at-spi2-core's accessibility bus, Xvfb with openbox, the simulated
projector behind a symlink, Orca with its speech written to its debug file
(no audio here), and the panel on COM1 = the symlink. Then, as a
screen-reader user would, with the focus left on "Query status":

- Space on "Query status": the reading (" Stand by"), whose reply comes a
  byte at a time, is spoken, once;
- the projector goes away: the lost-line message is spoken;
- a silent projector comes back on the same name: "is back" is spoken;
- Space again: nobody answers, and "No answer" is spoken.

Orca runs in a PID namespace of its own: its --replace (which ends every
`orca` of the user) ends no other Orca on this machine, and another one
running does not keep it from starting.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

from desktop_session import Session

PANEL, SIM = sys.argv[1], sys.argv[2]

# Orca as `orca --replace -d speech --debug-file=FILE`, with the file written
# a line at a time: Orca leaves it to Python's buffering, which would hold
# back its last utterances until more follow.
ORCA_LINE_BUFFERED = """
import builtins, runpy, sys
path = sys.argv[1]
real_open = builtins.open
def line_buffered(file, mode="r", *args, **kwargs):
    if file == path and "w" in mode:
        return real_open(file, mode, buffering=1, encoding="utf-8")
    return real_open(file, mode, *args, **kwargs)
builtins.open = line_buffered
sys.argv = ["orca", "--replace", "-d", "speech", "--debug-file=" + path]
runpy.run_path("/usr/bin/orca", run_name="__main__")
"""
TIMEOUT = 30.0
session = Session(TIMEOUT, step=0.05)
check, start, stop, wait_for = session.check, session.start, session.stop, session.wait_for


class Speech:
    """What Orca said, read from its debug file."""

    LINE = re.compile(r"SPEECH OUTPUT: '(.*?)'(?:\{|\s|$)", re.M)

    def __init__(self, path):
        self.path = path
        self.mark = 0

    def all(self):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as file:
                return self.LINE.findall(file.read())
        except FileNotFoundError:
            return []

    def since_mark(self):
        return self.all()[self.mark:]

    def set_mark(self):
        self.mark = len(self.all())

    def log_holds(self, words):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as file:
                return words in file.read()
        except FileNotFoundError:
            return False

    def wait(self, words):
        """The first utterance since the mark that holds `words`."""
        return wait_for(lambda: next((u for u in self.since_mark() if words in u), None))


def main(work):
    home = os.path.join(work, "home")
    os.makedirs(home)
    # Orca's settings start from its defaults, in a home of this test's own.
    session.set_home(home)
    session.start_desktop(window_manager=True)
    env = session.env

    # The simulated projector, reached through a name that outlives it.
    com1 = os.path.join(work, "com1")

    sim_log = os.path.join(work, "sim.log")  # every command each simulator heard

    def start_sim(*options):
        with open(sim_log, "a") as log:
            sim = start([SIM, "--verbose", "--link", com1] + list(options), stdout=subprocess.PIPE, stderr=log,
                        text=True)
        if not sim.stdout.readline().strip():
            sys.exit("mv70-sim did not start")
        return sim

    def heard(command):
        with open(sim_log, encoding="utf-8", errors="replace") as log:
            return log.read().count('"%s" ->' % command)

    sim = start_sim("--split", "1")  # the reply in pieces: its reading is still said once

    # Orca, speaking into its debug file.
    speech = Speech(os.path.join(work, "orca.debug"))
    # A user namespace too where a PID namespace needs one (not root).
    namespace = ["unshare"] + ([] if os.geteuid() == 0 else ["--map-current-user"])
    orca_errors = os.path.join(work, "orca.err")
    with open(orca_errors, "w") as errors:
        start(namespace + ["--pid", "--fork", "--mount-proc", "--kill-child=SIGTERM", sys.executable, "-c",
                           ORCA_LINE_BUFFERED, speech.path], env=env, stdout=subprocess.DEVNULL, stderr=errors)
    if not wait_for(lambda: speech.log_holds("ORCA: Starting registry")):
        with open(orca_errors, encoding="utf-8", errors="replace") as errors:
            said = errors.read()[-2000:].strip()
        sys.exit("Orca did not start (Debian package orca)" + (": " + said if said else ""))

    panel = start([PANEL], env=session.panel_env(MV70_COM1=com1))

    import pyatspi

    def query_button():
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is None or app.get_process_id() != panel.pid:
                    continue
                found = pyatspi.findDescendant(
                    app, lambda n: n is not None and n.name == "Query status" and n.getRoleName() == "push button")
                if found:
                    return found
            except Exception:
                pass
        return None

    button = wait_for(query_button)
    if not button:
        sys.exit("the panel's window never appeared in the accessibility tree")
    # The window is active when Orca has spoken its first focus.
    if not check(speech.wait("push button"), "Orca speaks the window's focused button"):
        return

    # The data band, and the focus on "Query status" (as Tab would put it there).
    subprocess.run(["xdotool", "key", "ctrl+j"], env=env, check=True)
    speech.set_mark()
    button.queryComponent().grabFocus()
    check(speech.wait("Query status"), "the focus on 'Query status' is spoken")

    def key(name):
        return lambda: subprocess.run(["xdotool", "key", name], env=env, check=True)

    def find(predicate):
        return pyatspi.findDescendant(button.getApplication(), lambda n: n is not None and predicate(n))

    def press_menu_on():
        find(lambda n: n.description == "sends C1C").queryAction().doAction(0)

    def hold_cursor_up():
        # After the menu's entry the arrows repeat every 200 ms with a 150 ms
        # reply window: each repeat ends in " X X X X" while nobody answers.
        up = find(lambda n: n.name == "Cursor up")
        x, y, width, height = up.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        before = heard("C3C")
        subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "mousedown", "1"], env=env,
                       check=True)
        # The press's command and two repeats; any number of repeats above one will do.
        check(wait_for(lambda: heard("C3C") >= before + 3), "'Cursor up' held repeats (%d)" % (heard("C3C") - before))
        subprocess.run(["xdotool", "mouseup", "1"], env=env, check=True)

    projector = {"sim": sim}

    def stop_sim():
        stop(projector["sim"])

    def start_silent_sim():
        projector["sim"] = start_sim("--silent")

    # What the operator does, and what Orca must then say once. The speech
    # after each step up to the next one's is what the step made Orca say;
    # the last step is followed by a lost line, which shows that all of the
    # hold's messages have been spoken (they were sent before it).
    steps = [
        ("Space on 'Query status'", key("space"), "Stand by"),
        ("the projector gone", stop_sim, "disconnected"),
        ("a silent projector back", start_silent_sim, "is back"),
        ("Space again", key("space"), "No answer"),
        ("the menu's entry pressed", press_menu_on, "No answer"),
        ("'Cursor up' held with the mouse", hold_cursor_up, "No answer"),
        ("the projector gone again", stop_sim, "disconnected"),
    ]
    marks = []
    for what, action, words in steps:
        speech.set_mark()
        marks.append(speech.mark)
        action()
        check(speech.wait(words), "%s: %r is spoken (heard: %r)" % (what, words, speech.since_mark()))
    heard = speech.all()
    marks.append(len(heard))
    for (what, _, words), begin, end in zip(steps[:-1], marks, marks[1:]):
        count = sum(words in u for u in heard[begin:end])
        check(count == 1, "%s: %r spoken once, not %d times" % (what, words, count))
    # The focus never moved away from the button before the mouse took it.
    check(sum("Query status" in u for u in heard) == 1, "the focus stays on 'Query status'")
    print("Orca said, after the focus came to the window:")
    for utterance in heard:
        print("  ", utterance)
    stop(panel)


work = tempfile.mkdtemp(prefix="mv70-orca-")
try:
    main(work)
finally:
    session.stop_all()
if session.failures:
    print(len(session.failures), "failure(s); Orca's debug file:", os.path.join(work, "orca.debug"))
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
print("PASS")
