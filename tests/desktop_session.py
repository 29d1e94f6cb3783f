# SPDX-License-Identifier: GPL-3.0-or-later
"""The desktop a screen-reader user meets, for the tests that watch the panel
from outside the program (atspi_status.py, orca_speaks.py).

Run inside a private D-Bus session (dbus-run-session -- TEST PANEL SIM). A
Session starts at-spi2-core's accessibility bus and says there that a screen
reader is running (as Orca does), then Xvfb, with openbox when a window must
be active; it keeps every process it starts, to stop them all at the end,
and the failed checks. `env` is the environment for the test's programs:
DISPLAY set once the display is up, and Qt's accessibility left to follow
the screen reader rather than forced on.
"""

import os
import select
import subprocess
import sys
import time


class Session:
    def __init__(self, timeout, step=0.02):
        self.timeout = timeout  # the longest wait for anything
        self.step = step  # how often a condition waited for is looked at
        self.processes = []
        self.failures = []
        self.env = dict(os.environ)
        self.env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)  # on because a screen reader is, not by force

    def set_home(self, home):
        """Settings start from their defaults, in `home`: before start_desktop()."""
        self.env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        XDG_DATA_HOME=os.path.join(home, ".local/share"), XDG_CACHE_HOME=os.path.join(home, ".cache"))

    def check(self, condition, what):
        if not condition:
            self.failures.append(what)
            print("FAIL:", what, flush=True)
        return condition

    def start(self, argv, **kwargs):
        process = subprocess.Popen(argv, **kwargs)
        self.processes.append(process)
        return process

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def stop_all(self):
        for process in reversed(self.processes):
            self.stop(process)

    def wait_for(self, predicate, timeout=None):
        """The predicate's first true value within the timeout, else None."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while time.monotonic() < deadline:
            value = predicate()
            if value:
                return value
            time.sleep(self.step)
        return None

    def start_desktop(self, window_manager=False):
        """The accessibility bus with a screen reader's "I am here", and the display."""
        if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
            sys.exit("run me inside dbus-run-session")
        self.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=self.env)
        import gi
        gi.require_version("Gio", "2.0")
        from gi.repository import Gio, GLib
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)

        def bus_ready():
            reply = session.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                      "NameHasOwner", GLib.Variant("(s)", ("org.a11y.Bus",)),
                                      GLib.VariantType("(b)"), Gio.DBusCallFlags.NONE, -1, None)
            return reply.unpack()[0]

        if not self.wait_for(bus_ready):
            sys.exit("the accessibility bus did not start")
        session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                          GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled", GLib.Variant("b", True))),
                          None, Gio.DBusCallFlags.NONE, -1, None)

        # A virtual display; it writes its number once it takes clients.
        read_end, write_end = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                   pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            sys.exit("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number
        if not window_manager:
            return
        # A window manager, so that the window is active: up once it has
        # announced itself on the root window, which xprop -spy prints (with
        # all the root window's properties) as it happens.
        spy = subprocess.Popen(["xprop", "-root", "-spy"], env=self.env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
        self.start(["openbox", "--sm-disable"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        said = b""
        deadline = time.monotonic() + self.timeout
        try:
            while b"_NET_SUPPORTING_WM_CHECK(WINDOW): window id" not in said:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([spy.stdout], [], [], left)[0]:
                    sys.exit("openbox did not start")
                chunk = os.read(spy.stdout.fileno(), 65536)
                if not chunk:
                    sys.exit("openbox did not start: xprop ended")
                said += chunk
        finally:
            spy.kill()
            spy.wait()

    def panel_env(self, **variables):
        """The environment for the panel on this desktop, with `variables`."""
        env = dict(self.env, QT_QPA_PLATFORM="xcb", **variables)
        if env.get("ASAN_OPTIONS"):
            # On X11, libxkbcommon strndup()s counted strings that are not
            # NUL-terminated: legal, but strict_string_checks reports it.
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        return env
