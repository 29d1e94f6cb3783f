#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the benchmark (Release), runs every measurement and writes
# bench/RESULTS.md. Takes about fifteen minutes. Options:
#   --quick          shorter windows and fewer samples, for trying the script out
#   --against DIR    also a before/after section: the panel's press-to-wire,
#                    reply-to-screen and stream cost, taken in turns from this
#                    build and from DIR, the bench/ folder of an earlier build
#                    (e.g. a Release build of a git worktree at that commit)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
mv70_need_packages "${MV70_BUILD_PACKAGES[@]}" "${MV70_TEST_PACKAGES[@]}" xvfb valgrind

seconds=30 repeat_seconds=10 press_samples=100 reply_samples=30 startup_runs=20 ctl_runs=30 bridge_args=
mqtt_options=(--cycles 10 --projectors 50 --idle-seconds 120)
quick='' against=''
while [ $# -gt 0 ]; do
    case $1 in
    --quick) quick=1 ;;
    --against) against=$(cd "$2" && pwd); shift ;;
    *) echo "usage: bench/run.sh [--quick] [--against BENCH_DIR]" >&2; exit 2 ;;
    esac
    shift
done
if [ -n "$quick" ]; then
    seconds=3 repeat_seconds=2 press_samples=10 reply_samples=5 startup_runs=4 ctl_runs=6 bridge_args=--quick
    mqtt_options=(--cycles 2 --projectors 5 --idle-seconds 10)
fi

build=build/bench-release
echo "Building the benchmark (Release) in $build ..." >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" --parallel 2 --target mv70-bench mv70-startup-probe bench_trace mv70-ctl-bench \
    mv70-bridge-bench mv70-mqtt-bench >/dev/null
bin="$build/bench"

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: the window paints through the X server as on a desktop.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_ENABLE_HIGHDPI_SCALING

loads="$work/loads.md"
: >"$loads"
run() {  # run NAME COMMAND...: appends the command's report to the body, its load to the table
    local name=$1
    shift
    echo "Running $name ..." >&2
    local before after
    before=$(cut -d' ' -f1-3 /proc/loadavg)
    "$@" >"$work/$name.out" 2>"$work/$name.err" || {
        echo "$name failed:" >&2
        cat "$work/$name.err" "$work/$name.out" >&2
        exit 1
    }
    after=$(cut -d' ' -f1-3 /proc/loadavg)
    echo "| $name | $before | $after |" >>"$loads"
    grep -v '^GOAL|' "$work/$name.out" >>"$work/body.md"
    grep '^GOAL|' "$work/$name.out" >>"$work/goals" || true
}
: >"$work/body.md"
: >"$work/goals"

run startup "$bin/mv70-bench" startup --probe "$bin/mv70-startup-probe" --runs "$startup_runs"
run press "$bin/mv70-bench" press --samples "$press_samples"
run repeat "$bin/mv70-bench" repeat --seconds "$repeat_seconds"
run reply "$bin/mv70-bench" reply --samples "$reply_samples"
run network "$bin/mv70-bench" network --samples "$reply_samples"
run cost-idle "$bin/mv70-bench" cost-idle --seconds "$seconds"
run cost-hold "$bin/mv70-bench" cost-hold --seconds "$seconds"
run cost-stream "$bin/mv70-bench" cost-stream --seconds "$seconds"
run cost-stream-compact "$bin/mv70-bench" cost-stream --compact --seconds "$seconds"
run cost-stream-a11y bench/with_a11y_client.sh "$bin/mv70-bench" cost-stream --seconds "$seconds"
# The same stream with the exchange log on: one line per receive event.
logged_stream() {
    "$bin/mv70-bench" cost-stream --seconds "$seconds" --log "$work/exchanges.log" \
        | sed -e 's/^## Cost: continuous stream at 19200 bit\/s/&, exchange log on (MV70_LOG)/' \
              -e 's/^GOAL|Cost under a stream|/GOAL|Cost under a stream, exchange log on|/'
    echo "The log file took $(wc -l <"$work/exchanges.log") lines, $(du -h "$work/exchanges.log" | cut -f1)."
    echo
}
run cost-stream-log logged_stream
run ctl "$bin/mv70-ctl-bench" --runs "$ctl_runs"
# mv70-bridge: the program with PJLink controllers on loopback and simulators.
bridge_figures() {
    echo "## mv70-bridge: PJLink controllers and one queue per line"
    echo
    # shellcheck disable=SC2086
    "$bin/mv70-bridge-bench" $bridge_args
    echo
}
run bridge bridge_figures
run mqtt "$bin/mv70-mqtt-bench" "${mqtt_options[@]}"

# Rendering and decoding: wall-clock time, then instruction counts under callgrind.
echo "Running the trace and decoder benchmarks ..." >&2
before=$(cut -d' ' -f1-3 /proc/loadavg)
"$bin/bench_trace" -o "$work/wall.csv,csv" >"$work/trace-wall.log" 2>&1
"$bin/bench_trace" -callgrind -o "$work/instr.csv,csv" >"$work/trace-instr.log" 2>&1
echo "| trace and decoder | $before | $(cut -d' ' -f1-3 /proc/loadavg) |" >>"$loads"

awk -F, '
    FNR == 1 { file++ }
    {
        gsub(/"/, "")
        key = $1 "|" $2
        if (file == 1) wall[key] = $4; else instr[key] = $4
        if ($1 == "decode") { split($2, part, "/"); queries[part[1]] = 1 }
    }
    END {
        n = split("10 100 1000 10000 32767", sizes, " ")
        print "## Trace rendering and decoding\n"
        print "`bench_trace` (Qt Test, QBENCHMARK), run twice: wall-clock time per call, and instructions per"
        print "call counted by callgrind (Qt Test runs itself under valgrind), which the load of the machine"
        print "does not disturb. The receive buffer holds replies `00` CR over and over; its trace is 7/3 as"
        print "long. *Full rendering* is renderTrace over the whole buffer, as every receive event did before"
        print "this benchmark. *Receive step* is what a receive event of one character costs now with the"
        print "buffer held at that length: the character appended, the oldest cut off, the trace brought up"
        print "to date by IncrementalTrace.\n"
        print "| Buffer (characters) | Full rendering: µs | ns per character | instructions | per character | Receive step: µs | instructions |"
        print "|---:|---:|---:|---:|---:|---:|---:|"
        for (i = 1; i <= n; i++) {
            s = sizes[i]; r = "render|" s; st = "receiveStep|" s
            printf "| %d | %.3f | %.2f | %d | %.1f | %.3f | %d |\n", s, wall[r] * 1000, wall[r] * 1e6 / s, instr[r], instr[r] / s, wall[st] * 1000, instr[st]
        }
        lo = "render|1000"; hi = "render|32767"
        printf "\nFrom 1000 to 32767 characters the rendering time grows %.1f-fold and its instruction count %.1f-fold, for %.1f times the characters.\n\n", wall[hi] / wall[lo], instr[hi] / instr[lo], 32767 / 1000
        linear = instr[hi] / instr[lo] / 32.767
        print "GOAL|Rendering linear in the length|time per character constant over 10 to 32767 characters|" sprintf("%.1f instructions per character at 1000, %.1f at 32767 (%.2f ns and %.2f ns)", instr[lo] / 1000, instr[hi] / 32767, wall[lo] * 1e6 / 1000, wall[hi] * 1e6 / 32767) "|" ((linear > 0.9 && linear < 1.1) ? "met" : "**missed**") > "/dev/stderr"
        print "Decoding, by query (µs per call / instructions per call). CR0 reads a table by the first four"
        print "characters of the trace; CR6 cuts three fields; CR9 shows the whole trace; CR PRESSURE reads a"
        print "number from its start.\n"
        header = "| Trace of a buffer of |"; rule = "|---:|"
        for (q in queries) { header = header " " q " |"; rule = rule "---:|" }
        print header; print rule
        for (i = 1; i <= n; i++) {
            line = "| " sizes[i] " characters |"
            for (q in queries) { k = "decode|" q "/" sizes[i]; line = line sprintf(" %.3f / %d |", wall[k] * 1000, instr[k]) }
            print line
        }
        print ""
    }' "$work/wall.csv" "$work/instr.csv" >>"$work/body.md" 2>>"$work/goals"

# Before and after: the same three figures from both builds, in turns, so
# that a change in the machine's load falls on both alike.
if [ -n "$against" ]; then
    echo "Running the before/after comparison against $against ..." >&2
    before_commit=$(git -C "$against" rev-parse --short HEAD 2>/dev/null || echo unknown)
    compare_before=$(cut -d' ' -f1-3 /proc/loadavg)
    figure() {  # figure BENCH_DIR SCENARIO ARGS...: the measured column of its goal line
        "$1/mv70-bench" "${@:2}" 2>/dev/null | sed -n 's/^GOAL|[^|]*|[^|]*|\([^|]*\)|.*/\1/p'
    }
    {
        echo "## Before and after"
        echo
        echo "The panel's figures from this build and from commit $before_commit, each program run in"
        echo "turn, twice, on the same display and load (load average $compare_before before these runs)."
        echo
        echo "| Figure | Round | Before ($before_commit) | After (this build) |"
        echo "|---|---|---|---|"
        for round in 1 2; do
            for scenario in "press --samples $press_samples" "reply --samples $reply_samples" \
                "cost-stream --seconds $seconds"; do
                # shellcheck disable=SC2086
                old=$(figure "$against" $scenario)
                # shellcheck disable=SC2086
                new=$(figure "$bin" $scenario)
                echo "| ${scenario%% *} | $round | $old | $new |"
            done
        done
        echo
    } >"$work/compare.md"
    echo "| before/after | $compare_before | $(cut -d' ' -f1-3 /proc/loadavg) |" >>"$loads"
    cat "$work/compare.md" >>"$work/body.md"
fi

# The machine.
describe() {
    local cpu mem virt qt gxx
    cpu=$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -n1)
    mem=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
    virt=$(systemd-detect-virt 2>/dev/null || true)
    qt=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo unknown)
    gxx=$(g++ -dumpfullversion 2>/dev/null || echo unknown)
    echo "- Processor: ${cpu:-unknown}, $(nproc) cores online; memory $mem"
    echo "- Virtualisation: ${virt:-none detected}"
    echo "- System: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    echo "- Qt $qt (Debian packages), g++ $gxx, Release build; window on the xcb platform under Xvfb $DISPLAY"
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet HEAD -- . ':!bench/RESULTS.md' 2>/dev/null || echo ' (with changes not committed)')"
}

{
    echo "# Benchmark results"
    echo
    echo "Written by \`bench/run.sh\`; what each figure is, and how it was taken, is said in its section."
    echo "Times are from CLOCK_MONOTONIC. The window runs on the xcb platform against Xvfb; the peer is a"
    echo "real pseudo-terminal whose far end runs on a thread of its own (see bench/README.md)."
    [ -n "$quick" ] && echo && echo "**Quick run: short windows and few samples; not the figures to quote.**"
    echo
    echo "## Machine"
    echo
    describe
    echo
    echo "Load averages (1, 5, 15 minutes) before and after each part. The machine may be shared: a load"
    echo "above its core count means other work competed for the processor during that part, and timing"
    echo "figures (not instruction counts) suffer from it."
    echo
    echo "| Part | Load before | Load after |"
    echo "|---|---|---|"
    cat "$loads"
    echo
    echo "## Goals"
    echo
    echo "| Goal | Target | Measured | Verdict |"
    echo "|---|---|---|---|"
    awk -F'|' '{ printf "| %s | %s | %s | %s |\n", $2, $3, $4, $5 }' "$work/goals"
    echo
    cat <<'NOTES'
What limits the figures, as far as this benchmark and profiling found:

- Repeat jitter. Qt's default event dispatcher on Linux (GLib's main loop) waits for a timer in
  whole milliseconds, rounded up, so a tick comes up to about 1 ms after its due time and two
  intervals in a row can differ by nearly that much on an idle machine; the repeat timer keeps
  its grid, so the mean period stays within a fraction of a per cent and nothing drifts. The
  program's rows are to be read against the bare-timer baseline, taken in the same process
  seconds later: where the baseline's jitter is as high, the machine (load, scheduling of a
  shared virtual machine) set it: the baseline makes the same write per tick as the program and
  none of its other steps.
- Cost under a stream. The peer sends each byte in a write of its own, so the window takes one
  receive event per byte (about 1900 a second); a real adapter delivers bytes in bunches, and
  fewer events cost less. What each event costs is mostly the event loop's own poll and read;
  the trace is brought up to date incrementally, and the RXD line is repainted only when what it
  shows changes, at most once a screen frame while the line keeps changing.

NOTES
    cat "$work/body.md"
} >bench/RESULTS.md
echo "Wrote bench/RESULTS.md" >&2
