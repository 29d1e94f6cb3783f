#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds what is missing and starts the MV70 control panel.
#
# Unless MV70_COM1 or MV70_COM2 (or --com1, --com2) names a port, the panel talks to a fresh
# simulated projector (mv70-sim) on COM1, which is stopped when the panel
# ends. Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) the panel
# runs on a virtual X display instead: it sends one STATUS query, a
# screenshot of the window with the answer on its STATUS line is saved, its
# path is printed, and the script ends.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
mv70_need_packages "${MV70_BUILD_PACKAGES[@]}"
headless=false
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=true
    mv70_need_packages "${MV70_HEADLESS_PACKAGES[@]}"
elif [ -z "${DISPLAY:-}" ]; then
    mv70_need_packages qt6-wayland  # a Wayland session without X: Qt's Wayland plugin
fi

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release --parallel "$(nproc)" --target mv70-control mv70-sim >/dev/null
panel=build/release/src/mv70-control

# Options that answer and end need neither a display nor a simulator; a port
# given on the command line is used instead of the simulator.
port_given=
for arg in "$@"; do
    case "$arg" in
    --list-ports | -h | --help | -v | --version) exec "$panel" "$@" ;;
    --com1 | --com1=* | --com2 | --com2=*) port_given=yes ;;
    esac
done

# Started in the background; stopped last one first (the panel before its
# display, the display before the simulator).
children=()
stop_children() {
    local i
    for ((i = ${#children[@]} - 1; i >= 0; i--)); do
        kill "${children[i]}" 2>/dev/null || true
        wait "${children[i]}" 2>/dev/null || true
    done
}
trap stop_children EXIT

if [ -z "${MV70_COM1:-}" ] && [ -z "${MV70_COM2:-}" ] && [ -z "$port_given" ]; then
    coproc SIM { exec build/release/sim/mv70-sim --verbose 2>build/release/mv70-sim.log; }
    children+=("$SIM_PID")
    if ! read -r -t 10 device <&"${SIM[0]}"; then
        echo "The simulated projector did not start; see build/release/mv70-sim.log" >&2
        exit 1
    fi
    export MV70_COM1="$device"
    echo "COM1 is a simulated projector on $device (its log: build/release/mv70-sim.log)" >&2
fi

if ! $headless; then
    "$panel" "$@"
    exit
fi

# ---- No display: a virtual one, one STATUS query, a screenshot ------------
work=$(mktemp -d)
trap 'stop_children; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
children+=("$!")
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY
export XDG_RUNTIME_DIR="$work"

QT_QPA_PLATFORM=xcb "$panel" "$@" &
children+=("$!")
window=$(timeout 30 xdotool search --sync --onlyvisible --name 'MV70  CONTROL' | head -n 1)
[ -n "$window" ] || { echo "The panel's window did not appear" >&2; exit 1; }

# Places in the window, in pixels (the layout in twips divided by 15): the
# STATUS button of the data band, and the inside of the STATUS line.
status_button=(464 384)
status_line=349x16+67+391

xdotool windowfocus "$window"
sleep 0.3
xdotool key ctrl+j  # opens the data band
for _ in $(seq 50); do
    xdotool getwindowgeometry "$window" | grep -q 'Geometry: 633x455' && break
    sleep 0.1
done

shot="$PWD/build/mv70-status.png"
for _ in 1 2 3; do
    xdotool mousemove --window "$window" "${status_button[@]}" click 1
    # The STATUS line shows the reading for a second after the query.
    sleep 0.3
    import -window "$window" "$shot"
    # The reading is written in red on white.
    red=$(convert "$shot" -crop "$status_line" +repage -fx 'r-g' -format '%[fx:maxima]' info:)
    if awk -v red="$red" 'BEGIN { exit !(red > 0.5) }'; then
        echo "$shot"
        exit 0
    fi
    sleep 1.5  # until the reply window and the display hold are over
done
echo "$shot" >&2
echo "No reading appeared on the STATUS line; the screenshot shows the window as it was." >&2
exit 1
