// SPDX-License-Identifier: GPL-3.0-or-later
// Press-to-wire: from the mouse event to the command's bytes at the peer.

#include "panel.h"
#include "report.h"
#include "scenarios.h"
#include "stats.h"

namespace bench {

void pressToWire(int samples) {
    Panel panel;
    out << "## Press-to-wire latency\n\n"
        << "From the moment just before the mouse event enters Qt's platform path "
           "(QWindowSystemInterface, as an event from the window system does) to the moment "
           "the peer thread's read() returned the command's first and last byte. "
        << samples
        << " samples of each kind, 30 ms apart. A pseudo-terminal has no wire: "
           "on a real line at 19200 bit/s the first byte needs another 0.52 ms and the whole "
           "four-byte command 2.08 ms. "
        << (panel.com1.realtime()
                ? "The peer's thread ran at a real-time priority (SCHED_FIFO), the panel at its ordinary one.\n\n"
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

}  // namespace bench
