// mv70-bench: runs the real window in this process against a pseudo-terminal
// peer that stamps every byte, drives it with mouse events through Qt's
// platform path, and prints what it measured as Markdown. Lines that start
// with "GOAL|" carry one goal each for the summary: id|goal|measured|verdict.
//
//   mv70-bench press|repeat|reply|network|cost-idle|cost-hold [--seconds S] [--samples N]
//   mv70-bench cost-stream [--compact] [--seconds S] [--log FILE]
//   mv70-bench startup --probe PATH [--runs N]
//   mv70-bench smoke            a few seconds of everything, for the test suite

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "accessibility_note.h"
#include "frame_probe.h"
#include "network_latency.h"
#include "protocol/trace.h"
#include "stamping_peer.h"
#include "stats.h"
#include "window/form1.h"

extern char **environ;

using namespace bench;

namespace {

QTextStream out(stdout);
bool smokeFailed = false;

constexpr double kNsPerMs = 1e6;
// One byte on the line at 8N1: ten bits.
constexpr double kByteMs19200 = 10.0 / 19200 * 1000;

QString mib(long kb) { return QString::number(static_cast<double>(kb) / 1024.0, 'f', 1); }

void goal(const QString &id, const QString &target, const QString &measured, bool met) {
    out << "GOAL|" << id << '|' << target << '|' << measured << '|' << (met ? "met" : "**missed**") << '\n';
}

void check(bool condition, const QString &what) {
    if (!condition) {
        out << "\n**Harness check failed:** " << what << "\n";
        smokeFailed = true;
    }
}

// Runs the event loop for `ms` milliseconds and nothing else.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds, checking every millisecond.
bool runUntil(const std::function<bool()> &done, int timeoutMs) {
    const std::int64_t deadline = nowNs() + std::int64_t{timeoutMs} * 1'000'000;
    while (!done()) {
        if (nowNs() > deadline)
            return false;
        runFor(1);
    }
    return true;
}

// The window on a stamping peer, started as the program starts it.
struct Panel {
    StampingPeer com1;
    std::unique_ptr<mv70::Form1> form;

    Panel() {
        qputenv("MV70_COM1", com1.path().toLocal8Bit());
        form = std::make_unique<mv70::Form1>();
        form->showWarning = [](const QString &description) { qWarning("warning box: %s", qPrintable(description)); };
        form->Form_Load();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qFatal("the window was never exposed");
        runFor(200);  // let the first frames settle
    }

    QWidget *control(const char *name) const { return form->control(name); }
    QWindow *window() const { return form->windowHandle(); }
    QPoint centreOf(const char *name) const {
        QWidget *w = control(name);
        return w->mapTo(form.get(), w->rect().center());
    }
    // Mouse events enter through the platform path, as the window system's do.
    void press(const char *name) { QTest::mousePress(window(), Qt::LeftButton, {}, centreOf(name)); }
    void release(const char *name) { QTest::mouseRelease(window(), Qt::LeftButton, {}, centreOf(name)); }
    void click(const char *name) {
        press(name);
        release(name);
    }
    // Ctrl+J: the data band with the monitor lines comes into view.
    void openDataBand() {
        QTest::keyClick(window(), Qt::Key_J, Qt::ControlModifier);
        runFor(100);
    }
    // The commands that arrived from index `from` on, with the stamp of each
    // one's first byte.
    struct Command {
        QByteArray bytes;
        std::int64_t firstNs;
        std::int64_t lastNs;
    };
    std::vector<Command> commandsFrom(std::size_t from) const {
        std::vector<Command> commands;
        Command current{{}, 0, 0};
        for (std::size_t i = from; i < com1.received(); ++i) {
            if (current.bytes.isEmpty())
                current.firstNs = com1.stamp(i);
            current.bytes += com1.byte(i);
            if (com1.byte(i) == '\r') {
                current.lastNs = com1.stamp(i);
                commands.push_back(current);
                current = {{}, 0, 0};
            }
        }
        return commands;
    }
};

// ---- Press-to-wire ----------------------------------------------------------

void pressToWire(int samples) {
    Panel panel;
    out << "## Press-to-wire latency\n\n"
        << "From the moment just before the mouse event enters Qt's platform path "
           "(QWindowSystemInterface, as an event from the window system does) to the moment "
           "the peer thread's read() returned the command's first and last byte. "
        << samples << " samples of each kind, 30 ms apart. A pseudo-terminal has no wire: "
           "on a real line at 19200 bit/s the first byte needs another 0.52 ms and the whole "
           "four-byte command 2.08 ms. "
        << (panel.com1.realtime() ? "The peer's thread ran at a real-time priority (SCHED_FIFO), the panel at its ordinary one.\n\n"
                                  : "The system refused the peer's thread a real-time priority: its stamps may lag when the machine is busy.\n\n")
        << "| Event | Command | First byte: median | p99 | max | Last byte: median | p99 |\n"
        << "|---|---|---:|---:|---:|---:|---:|\n";

    struct Kind {
        const char *label;
        const char *button;
        QByteArray command;
        bool onRelease;
    };
    const Kind kinds[] = {
        {"press of a hold button (VOL +)", "Command1", "C09\r", false},
        {"click of a one-shot button (POWER ON), from the release", "Command17", "C00\r", true},
    };
    double worstP99 = 0;
    for (const Kind &kind : kinds) {
        std::vector<double> first, last;
        for (int i = 0; i < samples; ++i) {
            const std::size_t before = panel.com1.received();
            std::int64_t event = 0;
            if (kind.onRelease) {
                panel.press(kind.button);
                event = nowNs();
                panel.release(kind.button);
            } else {
                event = nowNs();
                panel.press(kind.button);
            }
            runUntil([&] { return panel.com1.received() >= before + kind.command.size(); }, 5000);
            if (!kind.onRelease)
                panel.release(kind.button);
            runFor(30);
            const auto commands = panel.commandsFrom(before);
            check(!commands.empty() && commands.front().bytes == kind.command,
                  QStringLiteral("%1 did not send %2").arg(kind.button, QString::fromLatin1(kind.command)));
            if (commands.empty())
                continue;
            first.push_back(double(commands.front().firstNs - event) / kNsPerMs);
            last.push_back(double(commands.front().lastNs - event) / kNsPerMs);
        }
        const Summary f = summarize(first), l = summarize(last);
        worstP99 = std::max(worstP99, f.p99);
        out << "| " << kind.label << " | `" << QString::fromLatin1(kind.command).trimmed() << "` CR | " << ms(f.median)
            << " | " << ms(f.p99) << " | " << ms(f.max) << " | " << ms(l.median) << " | " << ms(l.p99) << " |\n";
    }
    out << "\nAll figures in milliseconds.\n\n";
    goal(QStringLiteral("Press-to-wire"), QStringLiteral("under 1 ms beyond the wire time"),
         QStringLiteral("p99 %1 ms to the first byte (the program's share; the wire adds 0.52 ms)").arg(ms(worstP99)),
         worstP99 < 1.0);
}

// ---- Repeat timing ------------------------------------------------------------

struct RepeatFigures {
    std::size_t commands = 0;
    std::size_t ticks = 0;  // delivered by the repeat timer while held
    std::size_t due = 0;    // whole periods in the time held
    double meanPeriod = 0;
    double meanErrorPercent = 0;
    double jitterP99 = 0;  // |interval - nominal|
    double jitterMax = 0;
    double drift10s = 0;  // (t_k - t_0) - k * period for the last command k within 10 s
    double driftEnd = 0;
    std::size_t missed = 0;  // the press or a tick that sent nothing
    std::size_t extra = 0;   // commands beyond one per press and tick
    std::size_t corrupt = 0;
};

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

// Counts the ticks a timer delivers while it lives.
struct TickCounter {
    std::size_t ticks = 0;
    QMetaObject::Connection connection;
    explicit TickCounter(QTimer &timer) {
        connection = QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
    }
    ~TickCounter() { QObject::disconnect(connection); }
};

struct Hold {
    const char *label;
    const char *button;
    QByteArray command;
    int periodMs;
    const char *prepare;  // pressed and released first, or nullptr
};

RepeatFigures holdAndMeasure(Panel &panel, const Hold &hold, int seconds) {
    if (hold.prepare) {
        panel.click(hold.prepare);
        runFor(300);
    }
    const std::size_t before = panel.com1.received();
    const TickCounter counter(panel.form->Timer1);
    const std::int64_t pressed = nowNs();
    panel.press(hold.button);
    runFor(seconds * 1000);
    const std::int64_t released = nowNs();
    panel.release(hold.button);
    runFor(200);
    return analyseRepeat(panel.commandsFrom(before), hold.command, hold.periodMs,
                         double(released - pressed) / kNsPerMs, counter.ticks);
}

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

const Hold kHolds[] = {
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
        << (panel.com1.realtime() ? "The peer's thread ran at a real-time priority (SCHED_FIFO), the panel at its ordinary one.\n\n"
                                  : "The system refused the peer's thread a real-time priority: its stamps may lag when the machine is busy.\n\n");
    repeatTableHeader(out);
    bool allMet = true;
    QStringList measured;
    for (const Hold &hold : kHolds) {
        const RepeatFigures r = holdAndMeasure(panel, hold, seconds);
        repeatRow(out, hold, r);
        check(r.commands >= 2, QStringLiteral("%1 did not repeat").arg(hold.button));
        const bool met = std::abs(r.meanErrorPercent) < 1.0 && r.jitterP99 < 1.0 && r.missed == 0 && r.extra == 0
                      && r.corrupt == 0;
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
    QObject::connect(&timer, &QTimer::timeout, [&] { (void)panel.form->MSComm1.setOutput(u"C3C\r"); });
    const std::size_t before = panel.com1.received();
    std::size_t ticks = 0;
    {
        const TickCounter counter(timer);
        (void)panel.form->MSComm1.setOutput(u"C3C\r");
        timer.start();
        runFor(seconds * 1000);
        timer.stop();
        ticks = counter.ticks;
    }
    runFor(200);
    repeatRow(out, bare, analyseRepeat(panel.commandsFrom(before), bare.command, bare.periodMs,
                                       double(seconds) * 1000, ticks));
    out << "\nThe baseline row is not the program: it tells how regular a 5 ms timer of Qt's can be on this "
           "machine at this load, so that the rows above can be read against it.\n\n";
    goal(QStringLiteral("Repeat timing"),
         QStringLiteral("mean period within 1 %, p99 jitter under 1 ms, no missed or extra command"),
         measured.join(QStringLiteral("; ")), allMet);
}

// ---- Reply-to-screen ----------------------------------------------------------

void replyToScreen(int samples) {
    Panel panel;
    panel.openDataBand();
    check(panel.form->Label12->isVisible() && panel.form->Label22->isVisible(), QStringLiteral("the data band did not open"));

    const std::vector<QByteArray> replies = {"00\r", "80\r"};
    const QString statusOf[] = {QStringLiteral(" Power ON"), QStringLiteral(" Stand by")};
    constexpr std::int64_t kAnswerDelayNs = 10'000'000;
    panel.com1.answerCommandsInTurn(replies, kAnswerDelayNs);

    // The receive handler has run (its Hyouji included) when this runs: it is
    // connected after the window's own.
    std::vector<std::int64_t> handled;
    QObject::connect(&panel.form->MSComm1, &mv70::serial::MSComm::OnComm, panel.form.get(), [&] {
        handled.push_back(nowNs());
    });
    struct Shown {
        std::int64_t rxd = 0, status = 0;
    };
    std::vector<Shown> shown(static_cast<std::size_t>(samples));
    std::size_t sample = 0;
    FrameProbe probe(panel.form.get());
    probe.onFrame = [&](const FrameProbe::Frame &frame) {
        if (sample >= shown.size())
            return;
        const std::size_t turn = sample % replies.size();
        const QString trace = mv70::renderTrace(QString::fromLatin1(replies[turn]));
        for (const auto &p : frame.painted) {
            if (p.widget == panel.form->Label12 && p.text == trace && !shown[sample].rxd)
                shown[sample].rxd = frame.doneNs;
            if (p.widget == panel.form->Label22 && p.text == statusOf[turn] && !shown[sample].status)
                shown[sample].status = frame.doneNs;
        }
    };

    std::vector<double> total, toHandled, toStatus;
    for (sample = 0; sample < shown.size(); ++sample) {
        const std::size_t repliesBefore = panel.com1.repliesWritten();
        const std::size_t handledBefore = handled.size();
        panel.click("Command44");  // STATUS
        runUntil([&] { return shown[sample].rxd && shown[sample].status; }, 2000);
        runFor(600);  // past the reply window: the next reply starts a fresh buffer
        if (panel.com1.repliesWritten() <= repliesBefore || !shown[sample].rxd || !shown[sample].status) {
            check(false, QStringLiteral("reply %1 was not shown (replies written %2, RXD %3, STATUS %4)")
                             .arg(sample)
                             .arg(panel.com1.repliesWritten() - repliesBefore)
                             .arg(shown[sample].rxd ? "painted" : "not painted", shown[sample].status ? "painted" : "not painted"));
            continue;
        }
        const std::int64_t written = panel.com1.replyStamp(repliesBefore);
        const std::int64_t both = std::max(shown[sample].rxd, shown[sample].status);
        total.push_back(double(both - written) / kNsPerMs);
        toStatus.push_back(double(shown[sample].status - written) / kNsPerMs);
        if (handled.size() > handledBefore)
            toHandled.push_back(double(handled.back() - written) / kNsPerMs);
    }
    panel.com1.answerCommands({}, 0);

    const Summary t = summarize(total), h = summarize(toHandled), s = summarize(toStatus);
    out << "## Reply-to-screen latency\n\n"
        << "The data band is open; a click on STATUS sends `CR0`; the peer answers `00` CR or `80` CR in turn, "
        << kAnswerDelayNs / 1'000'000
        << " ms after the command's carriage return, in one write. The time runs from just before the peer's "
           "write() to the end of the first frame in which both the RXD line (with the reply's trace) and the "
           "STATUS line (with \" Power ON\" or \" Stand by\") were painted: a frame ends when Qt's handling of "
           "the window's expose or update request, which paints the widgets into the backing store and "
           "flushes it to the platform, has returned. *Handled* is when the receive handler, with its "
           "rendering and decoding, had returned. "
        << t.count << " samples, 600 ms apart. Times in ms.\n\n"
        << "| Stage | median | p90 | p99 | max |\n|---|---:|---:|---:|---:|\n"
        << "| write → handled | " << ms(h.median) << " | " << ms(h.p90) << " | " << ms(h.p99) << " | " << ms(h.max)
        << " |\n"
        << "| write → STATUS painted | " << ms(s.median) << " | " << ms(s.p90) << " | " << ms(s.p99) << " | "
        << ms(s.max) << " |\n"
        << "| write → RXD and STATUS painted | " << ms(t.median) << " | " << ms(t.p90) << " | " << ms(t.p99)
        << " | " << ms(t.max) << " |\n\n";
    goal(QStringLiteral("Reply-to-screen"), QStringLiteral("under 5 ms"),
         QStringLiteral("median %1 ms, p99 %2 ms, max %3 ms").arg(ms(t.median), ms(t.p99), ms(t.max)),
         t.count > 0 && t.p99 < 5.0);
}

// ---- Cost -----------------------------------------------------------------------

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

void costIdle(int seconds) {
    Panel panel;
    const long startPeak = statusKb("VmHWM");
    const CostWindow w = measureWindow(panel, seconds);
    costTable(QStringLiteral("idle"),
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
        const TickCounter counter(panel.form->Timer1);
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
    QObject::connect(&panel.form->MSComm1, &mv70::serial::MSComm::OnComm, panel.form.get(), [&] { ++receiveEvents; });
    FrameProbe probe(panel.form.get());
    panel.click("Command44");  // STATUS: the decoder reads every receive against "CR0"
    runFor(50);
    panel.com1.startStream("00\r", 19200);

    std::vector<CpuMark> marks{CpuMark::take(panel.com1)};
    std::vector<qsizetype> bufferAt{panel.form->RxBuffer.size()};
    const CostWindow w = measureWindow(panel, seconds, [&] {
        marks.push_back(CpuMark::take(panel.com1));
        bufferAt.push_back(panel.form->RxBuffer.size());
    });
    panel.com1.stopStream();
    runFor(100);

    // The last ten seconds, when the receive buffer had reached its bound.
    const std::size_t tail = std::min<std::size_t>(10, marks.size() - 1);
    const CostWindow last = marks.back().since(marks[marks.size() - 1 - tail]);
    const bool atBound = bufferAt[bufferAt.size() - 1 - tail] == mv70::serial::kRxBufferLimit;
    const double bytesPerSecond = double(panel.com1.streamed()) / (double(w.wallNs) / 1e9);
    QString extra;
    QTextStream(&extra) << "The peer wrote " << panel.com1.streamed() << " bytes (" << ms(bytesPerSecond, 0)
                        << " per second); the window took " << receiveEvents << " receive events ("
                        << ms(double(receiveEvents) / (double(w.wallNs) / 1e9), 0) << " per second) and painted "
                        << probe.frames() << " frames. The receive buffer held " << bufferAt.back()
                        << " characters at the end. Over the last " << tail << " s"
                        << (atBound ? ", with the buffer at its bound all the time: " : " (the buffer had not reached its bound yet): ")
                        << "panel " << ms(last.panelPercent(), 2) << " % of a core, GUI thread " << ms(last.guiPercent(), 2)
                        << " %.\n\n"
                        << accessibilityNote(*panel.form, probe.frames());
    costTable((dataBand ? QStringLiteral("continuous stream at 19200 bit/s") : QStringLiteral("continuous stream at 19200 bit/s, compact window")) + accessibilitySuffix(),
              QStringLiteral("%3 and STATUS clicked once, then the peer sends `00` CR without end, one "
                             "byte every %1 ms (a byte's time at 19200 bit/s), each byte in a write of its own unless "
                             "the peer fell behind, for %2 s. The receive buffer grows to its bound of 32767 "
                             "characters and stays there. Measured as for idle.")
                  .arg(ms(kByteMs19200, 3))
                  .arg(seconds)
                  .arg(dataBand ? QStringLiteral("The data band open, so that the RXD line is on screen,")
                                : QStringLiteral("The window at its compact height, as it starts (the monitor lines are out of view),")),
              w, startPeak, extra);
    goal((dataBand ? QStringLiteral("Cost under a stream") : QStringLiteral("Cost under a stream, compact window")) + accessibilitySuffix(),
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

// ---- Start-up -------------------------------------------------------------------

struct StartupRun {
    double appMs = -1, frameMs = -1;
    long peakKb = 0;
};

std::optional<StartupRun> startOnce(const QString &probe) {
    StampingPeer com1(1 << 12);
    qputenv("MV70_COM1", com1.path().toLocal8Bit());
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const QByteArray path = probe.toLocal8Bit();
    char *argv[] = {const_cast<char *>(path.constData()), nullptr};
    pid_t pid = 0;
    const std::int64_t started = nowNs();
    const int spawned = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return std::nullopt;
    }
    QByteArray output;
    char chunk[512];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0)
        output.append(chunk, n);
    ::close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    StartupRun run;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2)
            continue;
        if (words[0] == "app")
            run.appMs = double(words[1].toLongLong() - started) / kNsPerMs;
        else if (words[0] == "frame")
            run.frameMs = double(words[1].toLongLong() - started) / kNsPerMs;
        else if (words[0] == "peak-kb")
            run.peakKb = words[1].toLong();
    }
    if (run.frameMs < 0)
        return std::nullopt;
    return run;
}

void startup(const QString &probe, int runs) {
    std::vector<StartupRun> all;
    for (int i = 0; i < runs; ++i) {
        const auto run = startOnce(probe);
        check(run.has_value(), QStringLiteral("start-up probe run %1 gave no first frame").arg(i));
        if (run)
            all.push_back(*run);
    }
    if (all.empty())
        return;
    std::vector<double> frames, apps;
    for (std::size_t i = 1; i < all.size(); ++i) {
        frames.push_back(all[i].frameMs);
        apps.push_back(all[i].appMs);
    }
    const Summary f = summarize(frames), a = summarize(apps);
    out << "## Start-up\n\n"
        << "`mv70-startup-probe` is the program's own `main.cpp` built with the same libraries and one more "
           "source file, which registers a start-up routine with QCoreApplication (it runs when the "
           "application object is constructed) and installs the same frame probe as the in-process "
           "benchmarks. It prints the CLOCK_MONOTONIC time when the application object exists and when the "
           "first frame in which the window itself was painted had been flushed, and its peak resident size "
           "then; after that it quits. Process start is the parent's clock just before posix_spawn(). COM1 is "
           "a fresh pseudo-terminal each time. "
        << all.size() << " runs; the first one is shown apart (the files it needs may not be in the page cache "
           "yet), the statistics are over the rest. Times in ms.\n\n"
        << "| | first run | median | p90 | max |\n|---|---:|---:|---:|---:|\n"
        << "| process start → application object | " << ms(all.front().appMs, 1) << " | " << ms(a.median, 1) << " | "
        << ms(a.p90, 1) << " | " << ms(a.max, 1) << " |\n"
        << "| process start → first painted window | " << ms(all.front().frameMs, 1) << " | " << ms(f.median, 1)
        << " | " << ms(f.p90, 1) << " | " << ms(f.max, 1) << " |\n\n"
        << "Peak resident size at the first frame: " << mib(all.back().peakKb) << " MiB.\n\n";
    if (frames.empty())
        frames.push_back(all.front().frameMs);
    goal(QStringLiteral("Start-up"), QStringLiteral("under 300 ms"),
         QStringLiteral("median %1 ms, max %2 ms (first run %3 ms)")
             .arg(ms(f.median, 1), ms(f.max, 1), ms(all.front().frameMs, 1)),
         f.count > 0 ? f.max < 300.0 : all.front().frameMs < 300.0);
}

int argument(const QStringList &args, const QString &name, int fallback) {
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QStringList args = QApplication::arguments();
    const QString scenario = args.value(1);
    const int seconds = argument(args, QStringLiteral("--seconds"), 0);
    const int samples = argument(args, QStringLiteral("--samples"), 0);
    // The exchange log on, to measure what it costs (MV70_LOG, as for the program).
    if (const qsizetype at = args.indexOf(QStringLiteral("--log")); at >= 0 && at + 1 < args.size())
        qputenv("MV70_LOG", args[at + 1].toLocal8Bit());

    if (scenario == u"press") {
        pressToWire(samples ? samples : 100);
    } else if (scenario == u"repeat") {
        repeatTiming(seconds ? seconds : 10);
    } else if (scenario == u"reply") {
        replyToScreen(samples ? samples : 30);
    } else if (scenario == u"cost-idle") {
        costIdle(seconds ? seconds : 30);
    } else if (scenario == u"cost-hold") {
        costHold(seconds ? seconds : 30);
    } else if (scenario == u"cost-stream") {
        costStream(seconds ? seconds : 30, !args.contains(QStringLiteral("--compact")));
    } else if (scenario == u"network") {
        check(networkLatency(out, samples ? samples : 30), QStringLiteral("a command or reply through ser2net went astray"));
    } else if (scenario == u"startup") {
        const qsizetype at = args.indexOf(QStringLiteral("--probe"));
        if (at < 0 || at + 1 >= args.size()) {
            fprintf(stderr, "startup needs --probe PATH\n");
            return 2;
        }
        startup(args[at + 1], argument(args, QStringLiteral("--runs"), 20));
    } else if (scenario == u"smoke") {
        pressToWire(3);
        repeatTiming(1);
        replyToScreen(2);
        costIdle(1);
        costHold(1);
        costStream(2, true);
        check(networkLatency(out, 2), QStringLiteral("a command or reply through ser2net went astray"));
        if (const qsizetype at = args.indexOf(QStringLiteral("--probe")); at >= 0 && at + 1 < args.size())
            startup(args[at + 1], 2);
    } else {
        fprintf(stderr,
                "usage: mv70-bench press|repeat|reply|network|cost-idle|cost-hold|cost-stream [--seconds S] [--samples N]\n"
                "       mv70-bench startup --probe PATH [--runs N]\n"
                "       mv70-bench smoke [--probe PATH]\n");
        return 2;
    }
    out.flush();
    return smokeFailed ? 1 : 0;
}
