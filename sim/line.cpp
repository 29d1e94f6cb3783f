// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/line.h"

#include <algorithm>
#include <cstdio>

#include <termios.h>
#include <unistd.h>

#include "pty/raw_pty.h"

namespace mv70::sim {
namespace {

// Printable ASCII as it is, everything else escaped, in quotes.
QByteArray shown(QByteArrayView bytes) {
    QByteArray text = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r') {
            text += "\\r";
        } else if (byte < 0x20 || byte >= 0x7F) {
            text += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            if (c == '"' || c == '\\')
                text += '\\';
            text += c;
        }
    }
    return text + '"';
}

}  // namespace

Line::Line(int master, int slave, const Options &options)
    : master_(master), slave_(slave), options_(options), projector_(options.model, 0),
      notifier_(master, QSocketNotifier::Read),
      random_(options.seed ? QRandomGenerator(*options.seed) : QRandomGenerator::securelySeeded()) {
    clock_.start();
    QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { receive(); });
    output_.setSingleShot(true);
    output_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&output_, &QTimer::timeout, [this] { transmitDue(); });
    if (options_.noise) {
        noise_.setInterval(options_.noisePeriodMs);
        QObject::connect(&noise_, &QTimer::timeout, [this] { makeNoise(); });
        noise_.start();
    }
}

void Line::log(const QByteArray &line) const {
    if (options_.verbose)
        std::fprintf(stderr, "%s\n", line.constData());
}

// Whether the panel has set its end of the pseudo-terminal to our speed.
bool Line::panelAtOurSpeed() const {
    termios attributes{};
    return tcgetattr(slave_, &attributes) == 0 && cfgetospeed(&attributes) == pty::speedOf(options_.baud);
}

void Line::receive() {
    char buffer[512];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return;
    for (const QByteArray &command : reader_.feed(QByteArrayView(buffer, n))) {
        // On a real line the two ends at different speeds hear each other
        // as noise: the projector understands nothing and stays silent.
        if (!panelAtOurSpeed()) {
            log(shown(command) + " at another line speed: not understood");
            continue;
        }
        const QByteArray reply = projector_.answer(command, clock_.elapsed());
        if (options_.silent) {
            log(shown(command) + " -> (silent)");
            continue;
        }
        log(shown(command) + " -> " + shown(reply));
        queueReply(reply);
    }
}

// A reply goes out after the delay, in pieces with a gap between them
// when it is split, and never before the reply ahead of it.
void Line::queueReply(const QByteArray &reply) {
    qint64 due = clock_.elapsed() + options_.delayMs;
    if (!queue_.empty())
        due = std::max(due, queue_.back().due + (options_.split > 0 ? options_.gapMs : 0));
    const qsizetype step = options_.split > 0 ? options_.split : reply.size();
    for (qsizetype i = 0; i < reply.size(); i += step) {
        queue_.push_back({due, reply.mid(i, step)});
        due += options_.gapMs;
    }
    transmitDue();
}

void Line::transmitDue() {
    const qint64 now = clock_.elapsed();
    while (!queue_.empty() && queue_.front().due <= now) {
        transmit(queue_.front().bytes);
        queue_.pop_front();
    }
    if (!queue_.empty())
        output_.start(static_cast<int>(queue_.front().due - now));
}

// Random bytes on the line while no reply is on its way.
void Line::makeNoise() {
    if (!queue_.empty())
        return;
    QByteArray bytes(static_cast<qsizetype>(random_.bounded(1, 9)), '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(random_.bounded(256));
    log("noise " + shown(bytes));
    transmit(bytes);
}

void Line::transmit(const QByteArray &bytes) {
    // Nobody reading the panel's end fills the line up: the rest is lost,
    // as on a wire.
    const ssize_t n = ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (n < bytes.size())
        log("line full: " + QByteArray::number(bytes.size() - std::max<qsizetype>(n, 0)) + " bytes lost");
}

}  // namespace mv70::sim
