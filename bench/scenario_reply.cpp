// SPDX-License-Identifier: GPL-3.0-or-later
// Reply-to-screen: from the peer's write to the frame that shows the reply
// on the RXD and STATUS lines.

#include "frame_probe.h"
#include "logic/trace.h"
#include "panel.h"
#include "report.h"
#include "scenarios.h"
#include "stats.h"

namespace bench {

void replyToScreen(int samples) {
    Panel panel;
    panel.openDataBand();
    check(panel.form->Label12->isVisible() && panel.form->Label22->isVisible(),
          QStringLiteral("the data band did not open"));

    const std::vector<QByteArray> replies = {"00\r", "80\r"};
    const QString statusOf[] = {QStringLiteral(" Power ON"), QStringLiteral(" Stand by")};
    constexpr std::int64_t kAnswerDelayNs = 10'000'000;
    panel.com1.answerCommandsInTurn(replies, kAnswerDelayNs);

    // The receive handler has run (its Hyouji included) when this runs: it is
    // connected after the window's own.
    std::vector<std::int64_t> handled;
    QObject::connect(&panel.form->port(), &mv70::serial::Port::received, panel.form.get(),
                     [&] { handled.push_back(nowNs()); });
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
                             .arg(shown[sample].rxd ? "painted" : "not painted",
                                  shown[sample].status ? "painted" : "not painted"));
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
        << "| write → RXD and STATUS painted | " << ms(t.median) << " | " << ms(t.p90) << " | " << ms(t.p99) << " | "
        << ms(t.max) << " |\n\n";
    goal(QStringLiteral("Reply-to-screen"), QStringLiteral("under 5 ms"),
         QStringLiteral("median %1 ms, p99 %2 ms, max %3 ms").arg(ms(t.median), ms(t.p99), ms(t.max)),
         t.count > 0 && t.p99 < 5.0);
}

}  // namespace bench
