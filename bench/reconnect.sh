#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Reconnect figures of the real program: mv70-control on COM1 behind a
# stable link to mv70-sim; the simulator ends and a new one appears behind the
# same link, again and again. Prints the time from the new device being there
# (the simulator has printed its path, the link is in place) to the panel
# holding it open, and the panel's CPU time while it waits.
#
#   bench/reconnect.sh [BUILD_DIR] [CYCLES]      (default build/test, 20)
set -euo pipefail
build=${1:-build/test}
cycles=${2:-20}
control=$build/src/mv70-control
sim=$build/sim/mv70-sim
work=$(mktemp -d)
link=$work/usb-MV70_Simulator-if00-port0
sim_pid=
panel=
cleanup() {
    [ -n "$panel" ] && kill "$panel" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

start_sim() {
    : >"$work/sim.out"
    "$sim" --link "$link" >"$work/sim.out" 2>/dev/null &
    sim_pid=$!
    until [ -s "$work/sim.out" ]; do sleep 0.002; done
    device=$(head -1 "$work/sim.out")
}
holds() {
    local fd
    for fd in "/proc/$panel/fd/"*; do
        [ "$(readlink "$fd" 2>/dev/null)" = "$device" ] && return 0
    done
    return 1
}
open_files() { find "/proc/$panel/fd/" -mindepth 1 | wc -l; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$panel/stat"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

start_sim
QT_QPA_PLATFORM=offscreen "$control" --com1 "$link" >/dev/null 2>&1 &
panel=$!
until holds; do sleep 0.01; done

hz=$(getconf CLK_TCK)
times=()
for ((i = 1; i <= cycles; i++)); do
    kill "$sim_pid"
    wait "$sim_pid" || true
    if ((i == 1)); then
        sleep 1  # the loss is handled
        before=$(cpu_ticks)
        sleep 10
        after=$(cpu_ticks)
        echo "CPU while waiting: $((after - before)) ticks of 1/$hz s in 10 s; state $(awk '{print $3}' "/proc/$panel/stat")"
    else
        sleep "0.$((RANDOM % 1000))"  # back at any moment of the watch's second
    fi
    start_sim
    back=$(now_ms)
    until holds; do sleep 0.002; done
    times+=($(($(now_ms) - back)))
    if ((i == 1)); then
        first="$(open_files) open files, resident $(awk '/VmRSS/ {print $2, $3}' "/proc/$panel/status")"
    fi
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "reopened after (ms), $cycles returns: min $(head -1 <<<"$sorted"), median $(sed -n "$(((cycles + 1) / 2))p" <<<"$sorted"), max $(tail -1 <<<"$sorted")"
echo "the panel after the first return: $first"
echo "the panel after the last return:  $(open_files) open files, resident $(awk '/VmRSS/ {print $2, $3}' "/proc/$panel/status")"
