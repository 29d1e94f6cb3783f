// SPDX-License-Identifier: GPL-3.0-or-later
#include "network_latency.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

#include "frame_probe.h"
#include "logic/trace.h"
#include "panel.h"
#include "ser2net_process.h"
#include "serial/network_line.h"
#include "stamping_peer.h"
#include "stats.h"
#include "window/form1.h"

namespace bench {
namespace {

constexpr double kNsPerMs = 1e6;

enum class Path { Local, Rfc2217, Rfc2217NoCharDelay, Raw };

// The window with COM1 on the stamping peer: directly, or through ser2net.
struct PathPanel {
    StampingPeer peer;
    std::unique_ptr<Ser2NetProcess> server;
    std::unique_ptr<mv70::Form1> form;

    explicit PathPanel(Path path) {
        const bool network = path != Path::Local;
        QString device = peer.path();
        if (path != Path::Local) {
            server = std::make_unique<Ser2NetProcess>(
                peer.path(), path == Path::Raw ? Ser2NetProcess::Mode::Raw : Ser2NetProcess::Mode::Rfc2217,
                path == Path::Rfc2217NoCharDelay ? QStringList{QStringLiteral("chardelay: false")} : QStringList{});
            device = server->url();
        }
        qputenv("MV70_COM1", device.toLocal8Bit());
        form = std::make_unique<mv70::Form1>();
        form->showWarning = [](const QString &description) { qWarning("warning box: %s", qPrintable(description)); };
        form->Form_Load();
        form->show();
        (void)QTest::qWaitForWindowExposed(form.get());
        runUntil(
            [this, network] {
                return !network || (form->port().networkLine() && form->port().networkLine()->isConnected());
            },
            10000);
        runFor(200);
        QTest::keyClick(form->windowHandle(), Qt::Key_J, Qt::ControlModifier);  // the data band
        runFor(100);
    }
    ~PathPanel() {
        form.reset();
        qunsetenv("MV70_COM1");
    }
    QPoint centreOf(const char *name) const {
        QWidget *w = form->control(name);
        return w->mapTo(form.get(), w->rect().center());
    }
    void press(const char *name) { QTest::mousePress(form->windowHandle(), Qt::LeftButton, {}, centreOf(name)); }
    void release(const char *name) { QTest::mouseRelease(form->windowHandle(), Qt::LeftButton, {}, centreOf(name)); }
};

struct Figures {
    Summary press;  // mouse press → first byte of the command at the peer
    Summary reply;  // peer's write → RXD and STATUS painted
    bool ok = true;
};

Figures measure(Path path, int samples) {
    PathPanel panel(path);
    Figures figures;

    // Press-to-wire: VOL + pressed, its command's first byte at the peer.
    std::vector<double> press;
    for (int i = 0; i < samples; ++i) {
        const std::size_t before = panel.peer.received();
        const std::int64_t event = nowNs();
        panel.press("Command1");
        const bool sent = runUntil([&] { return panel.peer.received() >= before + 4; }, 5000);
        panel.release("Command1");
        runFor(30);
        if (!sent || panel.peer.byte(before) != 'C') {
            qWarning("path %d, press %d: %s", int(path), i,
                     sent ? "not a command at the peer" : "nothing at the peer in 5 s");
            figures.ok = false;
            continue;
        }
        press.push_back(double(panel.peer.stamp(before) - event) / kNsPerMs);
    }
    figures.press = summarize(press);
    runFor(600);  // past the reply window of the last command

    // Reply-to-screen: STATUS answered 10 ms later, until both lines are painted.
    const std::vector<QByteArray> replies = {"00\r", "80\r"};
    const QString statusOf[] = {QStringLiteral(" Power ON"), QStringLiteral(" Stand by")};
    panel.peer.answerCommandsInTurn(replies, 10'000'000);
    std::int64_t rxdAt = 0, statusAt = 0;
    std::size_t turn = 0;
    FrameProbe probe(panel.form.get());
    probe.onFrame = [&](const FrameProbe::Frame &frame) {
        const QString trace = mv70::renderTrace(QString::fromLatin1(replies[turn]));
        for (const auto &p : frame.painted) {
            if (p.widget == panel.form->Label12 && p.text == trace && !rxdAt)
                rxdAt = frame.doneNs;
            if (p.widget == panel.form->Label22 && p.text == statusOf[turn] && !statusAt)
                statusAt = frame.doneNs;
        }
    };
    std::vector<double> reply;
    for (int i = 0; i < samples; ++i) {
        turn = static_cast<std::size_t>(i) % replies.size();
        rxdAt = statusAt = 0;
        const std::size_t repliesBefore = panel.peer.repliesWritten();
        panel.press("Command44");
        panel.release("Command44");
        runUntil([&] { return rxdAt && statusAt; }, 2000);
        runFor(600);
        if (panel.peer.repliesWritten() <= repliesBefore || !rxdAt || !statusAt) {
            qWarning("path %d, reply %d: %s; RXD %s, STATUS %s (\"%s\")", int(path), i,
                     panel.peer.repliesWritten() <= repliesBefore ? "the peer never answered" : "answered",
                     rxdAt ? "painted" : "not painted", statusAt ? "painted" : "not painted",
                     qPrintable(panel.form->Label22->text()));
            figures.ok = false;
            continue;
        }
        reply.push_back(double(std::max(rxdAt, statusAt) - panel.peer.replyStamp(repliesBefore)) / kNsPerMs);
    }
    panel.peer.answerCommands({}, 0);
    figures.reply = summarize(reply);
    return figures;
}

}  // namespace

bool networkLatency(QTextStream &out, int samples) {
    struct Row {
        const char *label;
        Path path;
    };
    const Row rows[] = {
        {"local pseudo-terminal", Path::Local},
        {"ser2net, RFC 2217 (`rfc2217://127.0.0.1:PORT`)", Path::Rfc2217},
        {"ser2net, RFC 2217, `chardelay: false`", Path::Rfc2217NoCharDelay},
        {"ser2net, raw TCP (`tcp://127.0.0.1:PORT`)", Path::Raw},
    };
    out << "## Through a network serial server\n\n"
        << "The same window and stamping peer, with COM1 on the peer's pseudo-terminal directly, or on "
           "Debian's ser2net on loopback bridging a TCP port to it (a process of its own, as in a hall). "
           "*Press-to-wire*: a press of VOL + to the first byte of `C09` at the peer, "
        << samples
        << " samples. *Reply-to-screen*: the peer's write of `00` CR or `80` CR, 10 ms after STATUS's `CR0`, "
           "to the end of the first frame with both RXD and STATUS painted, "
        << samples << " samples 600 ms apart. Times in ms.\n\n"
        << "| Path | Press-to-wire: median | p99 | max | Reply-to-screen: median | p99 | max |\n"
        << "|---|---:|---:|---:|---:|---:|---:|\n";
    bool ok = true;
    for (const Row &row : rows) {
        const Figures f = measure(row.path, samples);
        ok = ok && f.ok && f.press.count > 0 && f.reply.count > 0;
        out << "| " << row.label << " | " << ms(f.press.median) << " | " << ms(f.press.p99) << " | " << ms(f.press.max)
            << " | " << ms(f.reply.median) << " | " << ms(f.reply.p99) << " | " << ms(f.reply.max) << " |\n";
    }
    out << "\nser2net runs with the tests' configuration (an accepter on 127.0.0.1, `connector: "
           "serialdev,PTY,19200n81,local`). By default ser2net holds what the serial "
           "port gives it until the line has been quiet for a few character times (`chardelay`), to send "
           "it in fewer packets: that wait is most of the reply's extra time. With `chardelay: false` a "
           "reply is passed on at once and what remains is ser2net's relay and two loopback TCP hops; on a "
           "real network the link's round trip adds to every figure.\n\n";
    return ok;
}

}  // namespace bench
