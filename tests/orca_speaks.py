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
import time

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
processes = []
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return condition


def start(argv, **kwargs):
    process = subprocess.Popen(argv, **kwargs)
    processes.append(process)
    return process


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_for(predicate, timeout=TIMEOUT, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return None


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
    if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        sys.exit("run me inside dbus-run-session")
    home = os.path.join(work, "home")
    os.makedirs(home)
    # Orca's settings start from its defaults, in a home of this test's own.
    base_env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                    XDG_DATA_HOME=os.path.join(home, ".local/share"), XDG_CACHE_HOME=os.path.join(home, ".cache"))
    base_env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)  # on because a screen reader is, not by force

    # The accessibility bus, and a screen reader's "I am here".
    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=base_env)
    import gi
    gi.require_version("Gio", "2.0")
    from gi.repository import Gio, GLib
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def bus_ready():
        reply = session.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                  "NameHasOwner", GLib.Variant("(s)", ("org.a11y.Bus",)),
                                  GLib.VariantType("(b)"), Gio.DBusCallFlags.NONE, -1, None)
        return reply.unpack()[0]

    if not wait_for(bus_ready):
        sys.exit("the accessibility bus did not start")
    session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                      GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled", GLib.Variant("b", True))),
                      None, Gio.DBusCallFlags.NONE, -1, None)

    # A virtual display with a window manager, so that the window is active.
    read_end, write_end = os.pipe()
    start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
          pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as display:
        number = display.readline().strip()
    if not number:
        sys.exit("Xvfb did not start")
    env = dict(base_env, DISPLAY=":" + number)
    start(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def window_manager_up():
        probe = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                               capture_output=True, text=True)
        return "window id" in probe.stdout

    if not wait_for(window_manager_up):
        sys.exit("openbox did not start")

    # The simulated projector, reached through a name that outlives it.
    com1 = os.path.join(work, "com1")

    def start_sim(*options):
        sim = start([SIM, "--link", com1] + list(options), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                    text=True)
        if not sim.stdout.readline().strip():
            sys.exit("mv70-sim did not start")
        return sim

    sim = start_sim("--split", "1")  # the reply in pieces: its reading is still said once

    # Orca, speaking into its debug file.
    speech = Speech(os.path.join(work, "orca.debug"))
    # A user namespace too where a PID namespace needs one (not root).
    namespace = ["unshare"] + ([] if os.geteuid() == 0 else ["--map-current-user"])
    start(namespace + ["--pid", "--fork", "--mount-proc", "--kill-child=SIGTERM", sys.executable, "-c",
                       ORCA_LINE_BUFFERED, speech.path], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_for(lambda: speech.log_holds("ORCA: Starting registry")):
        sys.exit("Orca did not start (Debian package orca)")

    panel_env = dict(env, QT_QPA_PLATFORM="xcb", MV70_COM1=com1)
    if panel_env.get("ASAN_OPTIONS"):
        # On X11, libxkbcommon strndup()s counted strings that are not
        # NUL-terminated: legal, but strict_string_checks reports it.
        panel_env["ASAN_OPTIONS"] += ":strict_string_checks=0"
    panel = start([PANEL], env=panel_env)

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
        subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "mousedown", "1"], env=env,
                       check=True)
        time.sleep(1.5)  # some seven repeats; any number above one will do
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
    for process in reversed(processes):
        stop(process)
if failures:
    print(len(failures), "failure(s); Orca's debug file:", os.path.join(work, "orca.debug"))
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
print("PASS")
