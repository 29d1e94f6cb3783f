#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# with_a11y_client.sh COMMAND...: runs COMMAND with a screen reader's
# accessibility client attached, in a D-Bus session of its own: at-spi2-core's
# accessibility bus, the "screen reader enabled" flag that Orca sets, and
# bench/a11y_client.py listening to every name change and reading it.
set -euo pipefail
if [ -z "${MV70_A11Y_SESSION:-}" ]; then
    exec env MV70_A11Y_SESSION=1 dbus-run-session -- "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's, which has python3-pyatspi

launcher_pid= client_pid=
cleanup() {
    [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null && wait "$launcher_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT

/usr/libexec/at-spi-bus-launcher --launch-immediately 2>/dev/null &
launcher_pid=$!
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q "boolean true" && break
    sleep 0.05
done
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:ScreenReaderEnabled variant:boolean:true >/dev/null

fifo=$(mktemp -u)
mkfifo "$fifo"
"$python" "$here/a11y_client.py" >"$fifo" &
client_pid=$!
read -r _ <"$fifo"  # "listening"
rm -f "$fifo"

"$@"
