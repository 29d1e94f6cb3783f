// SPDX-License-Identifier: GPL-3.0-or-later
// Cost: CPU time and peak resident size while idle, while a button is held
// at 5 ms, and under a continuous stream at the line rate.

#include <algorithm>

#include "accessibility_note.h"
#include "frame_probe.h"
#include "repeat.h"
#include "report.h"
#include "scenarios.h"
#include "stats.h"

namespace bench {
namespace {

struct CostWindow {
    std::int64_t wallNs = 0, processNs = 0, guiNs = 0, peerNs = 0;
    long peakKb = 0;
    double panelPercent() const { return double(processNs - peerNs) / double(wallNs) * 100; }
    double guiPercent() const { return double(guiNs) / double(wallNs) * 100; }
    double peerPercent() const { return double(peerNs) / double(wallNs) * 100; }
};

struct CpuMark {
    std::int64_t wall, process, gui, peer;
    static CpuMark take(const StampingPeer &peer) { return {nowNs(), processCpuNs(), threadCpuNs(), peer.cpuNs()}; }
    CostWindow since(const CpuMark &start) const {
        CostWindow w;
        w.wallNs = wall - start.wall;
        w.processNs = process - start.process;
        w.guiNs = gui - start.gui;
        w.peerNs = peer - start.peer;
        return w;
    }
};

void costTable(const QString &title, const QString &how, const CostWindow &w, long startPeakKb,
               const QString &extra = {}) {
    out << "## Cost: " << title << "\n\n"
        << how << "\n\n"
        << "| Window | Panel CPU (process less peer) | GUI thread alone | Peer thread | Peak resident (VmHWM) in window "
           "| Peak resident before it |\n|---:|---:|---:|---:|---:|---:|\n"
        << "| " << ms(double(w.wallNs) / 1e9, 1) << " s | " << ms(w.panelPercent(), 2) << " % of a core | "
        << ms(w.guiPercent(), 2) << " % | " << ms(w.peerPercent(), 2) << " % | " << mib(w.peakKb) << " MiB | "
        << mib(startPeakKb) << " MiB |\n\n"
        << extra;
}

CostWindow measureWindow(Panel &panel, int seconds, const std::function<void()> &duringEachSecond = {}) {
    resetPeakResident();
    const CpuMark start = CpuMark::take(panel.com1);
    if (duringEachSecond) {
        for (int s = 0; s < seconds; ++s) {
            runFor(1000);
            duringEachSecond();
        }
    } else {
        runFor(seconds * 1000);
    }
    CostWindow w = CpuMark::take(panel.com1).since(start);
    w.peakKb = statusKb("VmHWM");
    return w;
}

}  // namespace

void costIdle(int seconds) {
    Panel panel;
    const long startPeak = statusKb("VmHWM");
    const CostWindow w = measureWindow(panel, seconds);
    costTable(
        QStringLiteral("idle"),
        QStringLiteral("The window as it starts (compact, port open), nobody touching it, for %1 s. CPU time from "
                       "the process's and threads' CPU clocks; the peer's own thread is subtracted. Peak "
                       "resident size from VmHWM, reset through /proc/self/clear_refs at the window's start; "
                       "it includes the benchmark's own code and the peer thread, which are small.")
            .arg(seconds),
        w, startPeak);
    goal(QStringLiteral("Cost idle"), QStringLiteral("under 1 % of a core"),
         QStringLiteral("%1 % of a core, peak %2 MiB").arg(ms(w.panelPercent(), 3)).arg(mib(w.peakKb)),
         w.panelPercent() < 1.0);
}

void costHold(int seconds) {
    Panel panel;
    const long startPeak = statusKb("VmHWM");
    const Hold &hold = kHolds[0];
    panel.click(hold.prepare);
    runFor(300);
    const std::size_t before = panel.com1.received();
    std::size_t ticks = 0;
    std::int64_t pressed = 0, released = 0;
    CostWindow w;
    {
        const TickCounter counter(panel.form->repeatTimer());
        pressed = nowNs();
        panel.press(hold.button);
        w = measureWindow(panel, seconds);
        released = nowNs();
        panel.release(hold.button);
        ticks = counter.ticks;
    }
    runFor(200);
    const RepeatFigures r = analyseRepeat(panel.commandsFrom(before), hold.command, hold.periodMs,
                                          double(released - pressed) / kNsPerMs, ticks);
    QString extra;
    QTextStream table(&extra);
    table << "The repeat over the same " << seconds << " s (drift at its end: " << ms(r.driftEnd) << " ms):\n\n";
    repeatTableHeader(table);
    repeatRow(table, hold, r);
    table << "\n";
    table.flush();
    costTable(QStringLiteral("holding an arrow at 5 ms"),
              QStringLiteral("D.Zoom + pressed and released (the arrows then repeat every 5 ms), then ↑ held for "
                             "%1 s. Measured as for idle.")
                  .arg(seconds),
              w, startPeak, extra);
    goal(QStringLiteral("Cost holding at 5 ms"), QStringLiteral("(no goal given; reported)"),
         QStringLiteral("%1 % of a core, peak %2 MiB; %3 missed, %4 extra over %5 s; %6 ticks for %7 periods")
             .arg(ms(w.panelPercent(), 2))
             .arg(mib(w.peakKb))
             .arg(r.missed)
             .arg(r.extra)
             .arg(seconds)
             .arg(r.ticks)
             .arg(r.due),
         r.missed == 0 && r.extra == 0);
}

void costStream(int seconds, bool dataBand) {
    Panel panel;
    if (dataBand)
        panel.openDataBand();
    const long startPeak = statusKb("VmHWM");
    std::uint64_t receiveEvents = 0;
    QObject::connect(&panel.form->port(), &mv70::serial::Port::received, panel.form.get(), [&] { ++receiveEvents; });
    FrameProbe probe(panel.form.get());
    panel.click("Command44");  // STATUS: the decoder reads every receive against "CR0"
    runFor(50);
    panel.com1.startStream("00\r", 19200);

    std::vector<CpuMark> marks{CpuMark::take(panel.com1)};
    std::vector<qsizetype> bufferAt{panel.form->exchange.received().size()};
    const CostWindow w = measureWindow(panel, seconds, [&] {
        marks.push_back(CpuMark::take(panel.com1));
        bufferAt.push_back(panel.form->exchange.received().size());
    });
    panel.com1.stopStream();
    runFor(100);

    // The last ten seconds, when the receive buffer had reached its bound.
    const std::size_t tail = std::min<std::size_t>(10, marks.size() - 1);
    const CostWindow last = marks.back().since(marks[marks.size() - 1 - tail]);
    const bool atBound = bufferAt[bufferAt.size() - 1 - tail] == mv70::kReceivedLimit;
    const double bytesPerSecond = double(panel.com1.streamed()) / (double(w.wallNs) / 1e9);
    QString extra;
    QTextStream(&extra) << "The peer wrote " << panel.com1.streamed() << " bytes (" << ms(bytesPerSecond, 0)
                        << " per second); the window took " << receiveEvents << " receive events ("
                        << ms(double(receiveEvents) / (double(w.wallNs) / 1e9), 0) << " per second) and painted "
                        << probe.frames() << " frames. The receive buffer held " << bufferAt.back()
                        << " characters at the end. Over the last " << tail << " s"
                        << (atBound ? ", with the buffer at its bound all the time: "
                                    : " (the buffer had not reached its bound yet): ")
                        << "panel " << ms(last.panelPercent(), 2) << " % of a core, GUI thread "
                        << ms(last.guiPercent(), 2) << " %.\n\n"
                        << accessibilityNote(*panel.form, probe.frames());
    costTable((dataBand ? QStringLiteral("continuous stream at 19200 bit/s")
                        : QStringLiteral("continuous stream at 19200 bit/s, compact window"))
                  + accessibilitySuffix(),
              QStringLiteral("%3 and STATUS clicked once, then the peer sends `00` CR without end, one "
                             "byte every %1 ms (a byte's time at 19200 bit/s), each byte in a write of its own unless "
                             "the peer fell behind, for %2 s. The receive buffer grows to its bound of 32767 "
                             "characters and stays there. Measured as for idle.")
                  .arg(ms(kByteMs19200, 3))
                  .arg(seconds)
                  .arg(dataBand
                           ? QStringLiteral("The data band open, so that the RXD line is on screen,")
                           : QStringLiteral(
                               "The window at its compact height, as it starts (the monitor lines are out of view),")),
              w, startPeak, extra);
    goal((dataBand ? QStringLiteral("Cost under a stream") : QStringLiteral("Cost under a stream, compact window"))
             + accessibilitySuffix(),
         QStringLiteral("under 10 % of a core"),
         QStringLiteral("%1 % of a core over %2 s; %3 % over the last %4 s%5; peak %6 MiB")
             .arg(ms(w.panelPercent(), 2))
             .arg(seconds)
             .arg(ms(last.panelPercent(), 2))
             .arg(tail)
             .arg(atBound ? QStringLiteral(" (buffer at its bound)") : QString())
             .arg(mib(w.peakKb)),
         w.panelPercent() < 10.0 && last.panelPercent() < 10.0);
}

}  // namespace bench
