// SPDX-License-Identifier: GPL-3.0-or-later
// Repeat timing: each hold button held, every command stamped at the peer,
// beside a bare Qt timer as the machine's own baseline.

#include <QStringList>

#include <cmath>

#include "repeat.h"
#include "report.h"
#include "scenarios.h"
#include "stats.h"

namespace bench {

RepeatFigures analyseRepeat(const std::vector<Panel::Command> &commands, const QByteArray &expected, double periodMs,
                            double heldMs, std::size_t ticks) {
    RepeatFigures r;
    r.commands = commands.size();
    r.ticks = ticks;
    r.due = static_cast<std::size_t>(std::floor(heldMs / periodMs));
    r.missed = ticks + 1 > commands.size() ? ticks + 1 - commands.size() : 0;
    r.extra = commands.size() > ticks + 1 ? commands.size() - ticks - 1 : 0;
    if (commands.size() < 2)
        return r;
    for (const auto &c : commands)
        r.corrupt += c.bytes != expected;
    const double start = double(commands.front().firstNs) / kNsPerMs;
    std::vector<double> deviation;
    for (std::size_t i = 1; i < commands.size(); ++i) {
        const double t = double(commands[i].firstNs) / kNsPerMs;
        deviation.push_back(std::abs(t - double(commands[i - 1].firstNs) / kNsPerMs - periodMs));
        const double drift = t - start - double(i) * periodMs;
        if (t - start <= 10'000.0 + periodMs / 2)
            r.drift10s = drift;
        r.driftEnd = drift;
    }
    const double span = double(commands.back().firstNs - commands.front().firstNs) / kNsPerMs;
    r.meanPeriod = span / double(commands.size() - 1);
    r.meanErrorPercent = (r.meanPeriod - periodMs) / periodMs * 100;
    const Summary d = summarize(deviation);
    r.jitterP99 = d.p99;
    r.jitterMax = d.max;
    return r;
}

namespace {

RepeatFigures holdAndMeasure(Panel &panel, const Hold &hold, int seconds) {
    if (hold.prepare) {
        panel.click(hold.prepare);
        runFor(300);
    }
    const std::size_t before = panel.com1.received();
    const TickCounter counter(panel.form->repeatTimer());
    const std::int64_t pressed = nowNs();
    panel.press(hold.button);
    runFor(seconds * 1000);
    const std::int64_t released = nowNs();
    panel.release(hold.button);
    runFor(200);
    return analyseRepeat(panel.commandsFrom(before), hold.command, hold.periodMs, double(released - pressed) / kNsPerMs,
                         counter.ticks);
}

}  // namespace

void repeatTableHeader(QTextStream &s) {
    s << "| Held | Period | Commands | Ticks (periods held) | Mean period | Mean error | Jitter p99 | Jitter max "
         "| Drift at 10 s | Missed | Extra | Wrong bytes |\n"
      << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
}

void repeatRow(QTextStream &s, const Hold &hold, const RepeatFigures &r) {
    s << "| " << hold.label << " | " << hold.periodMs << " | " << r.commands << " | " << r.ticks << " (" << r.due
      << ") | " << ms(r.meanPeriod, 4) << " | " << ms(r.meanErrorPercent, 3) << " % | " << ms(r.jitterP99) << " | "
      << ms(r.jitterMax) << " | " << ms(r.drift10s) << " | " << r.missed << " | " << r.extra << " | " << r.corrupt
      << " |\n";
}

const Hold kHolds[4] = {
    {"arrow ↑ after a D.Zoom release", "Command5", "C3C\r", 5, "Command48"},
    {"Brightness +", "Command15", "C20\r", 50, nullptr},
    {"VOL +", "Command1", "C09\r", 250, nullptr},
    {"SELECT", "Command6", "C3F\r", 500, nullptr},
};

void repeatTiming(int seconds) {
    Panel panel;
    out << "## Repeat timing while a button is held\n\n"
        << "Each button held for " << seconds
        << " s by a real press and release; the peer stamps the first byte of every command. "
           "Intervals are between consecutive commands, the first one counted from the press's own "
           "command. *Ticks* are those the repeat timer delivered while the button was held (counted by a "
           "slot connected to it after the window's own), against the whole periods in the time held; "
           "Qt's repeating timer drops a tick it could not deliver within a period, so fewer ticks than "
           "periods (beyond the one that may fall at the release) are ticks lost to a stalled event loop. "
           "*Missed* counts the press and ticks that sent no command, *extra* commands beyond one per press "
           "and tick. *Jitter* is |interval − period|; *drift at 10 s* is how far the last command within "
           "10 s is from the first plus its number of periods. Times in ms. "
        << (panel.com1.realtime()
                ? "The peer's thread ran at a real-time priority (SCHED_FIFO), the panel at its ordinary one.\n\n"
                : "The system refused the peer's thread a real-time priority: its stamps may lag when the machine is busy.\n\n");
    repeatTableHeader(out);
    bool allMet = true;
    QStringList measured;
    for (const Hold &hold : kHolds) {
        const RepeatFigures r = holdAndMeasure(panel, hold, seconds);
        repeatRow(out, hold, r);
        check(r.commands >= 2, QStringLiteral("%1 did not repeat").arg(hold.button));
        const bool met =
            std::abs(r.meanErrorPercent) < 1.0 && r.jitterP99 < 1.0 && r.missed == 0 && r.extra == 0 && r.corrupt == 0;
        allMet = allMet && met;
        measured << QStringLiteral("%1 ms: %2 %, p99 %3 ms, %4 missed, %5 extra")
                        .arg(hold.periodMs)
                        .arg(ms(r.meanErrorPercent, 3), ms(r.jitterP99))
                        .arg(r.missed)
                        .arg(r.extra);
    }

    // The same line and event loop with none of the window's work: a bare
    // repeating precise timer that writes the command through the serial
    // component. What it shows is the machine's and Qt's own timing.
    const Hold bare{"baseline: a bare 5 ms timer writing `C3C` CR", nullptr, "C3C\r", 5, nullptr};
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(bare.periodMs);
    QObject::connect(&timer, &QTimer::timeout, [&] { (void)panel.form->port().write(u"C3C\r"); });
    const std::size_t before = panel.com1.received();
    std::size_t ticks = 0;
    {
        const TickCounter counter(timer);
        (void)panel.form->port().write(u"C3C\r");
        timer.start();
        runFor(seconds * 1000);
        timer.stop();
        ticks = counter.ticks;
    }
    runFor(200);
    repeatRow(out, bare,
              analyseRepeat(panel.commandsFrom(before), bare.command, bare.periodMs, double(seconds) * 1000, ticks));
    out << "\nThe baseline row is not the program: it tells how regular a 5 ms timer of Qt's can be on this "
           "machine at this load, so that the rows above can be read against it.\n\n";
    goal(QStringLiteral("Repeat timing"),
         QStringLiteral("mean period within 1 %, p99 jitter under 1 ms, no missed or extra command"),
         measured.join(QStringLiteral("; ")), allMet);
}

}  // namespace bench
