// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Port: one serial port of the program, over a Line (serial/line.h): a
// local device through Qt SerialPort, or a port of a network serial server,
// chosen from the device's name at each opening. All on the GUI thread. The
// panel, mv70-ctl and the bridge each use one per projector.
//
// Port N is the device named by --comN or the environment variable MV70_COMN
// (a USB adapter such as /dev/ttyUSB0, a pseudo-terminal, or
// rfc2217://HOST:PORT / tcp://HOST:PORT), otherwise the platform's own:
// /dev/ttyS0 for port 1 on Linux, COM1 on Windows. A network port counts as
// open while it connects; what is sent meanwhile goes out once it is made, and
// an attempt that fails is reported by openFailed.
//
// A line lost while open (adapter unplugged, server gone) is waited for by
// the ReconnectWatch: at each interval the same name is looked at (for a
// network port: a quiet connection attempt), and when it leads to a device
// again the port is reopened with the number and settings it had. Any
// operation of the operator's on the port (a port number, opening, closing)
// ends the wait.
//
// Failures come as data (LineFailure); the program words them, through
// setWording for the descriptions the operations return and in its own
// handlers for the events.
//
// Characters and bytes: the line carries one byte per character.
//  - Sent: every character from U+0000 to U+007F is sent as that byte.
//    Every other character (each UTF-16 unit, so a character outside the
//    Basic Multilingual Plane counts as two) is sent as "?" (0x3F): the
//    projector speaks ASCII only, and one byte per character keeps what was
//    sent and what the TXD line shows in step.
//  - Received: every byte 0x00 to 0xFF becomes the character of the same code
//    (Latin-1), so no byte is lost or merged.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "serial/line.h"
#include "serial/reconnect_watch.h"

namespace mv70 {
class Exchange;
}

namespace mv70::serial {

class NetworkLine;

// The result of an operation: success, or a failure with its description
// and, for a failure of the line itself, the failure as data.
class [[nodiscard]] CommOutcome {
public:
    CommOutcome() = default;
    static CommOutcome failure(QString description, std::optional<LineFailure> line = std::nullopt) {
        CommOutcome outcome;
        outcome.failed_ = true;
        outcome.description_ = std::move(description);
        outcome.line_ = std::move(line);
        return outcome;
    }
    explicit operator bool() const { return !failed_; }
    const QString &description() const { return description_; }
    const std::optional<LineFailure> &lineFailure() const { return line_; }

private:
    bool failed_ = false;
    QString description_;
    std::optional<LineFailure> line_;
};

class Port : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxPort = 16;

    // How the program words a failure of the line on port N for its user.
    using Wording = std::function<QString(int port, const LineFailure &failure)>;

    explicit Port(QObject *parent = nullptr);
    ~Port() override;

    // Port number, 1 to 16. Accepted only while the port is closed.
    int portNumber() const { return portNumber_; }
    CommOutcome setPortNumber(int port);

    // "19200,N,8,1". Applies at once to an open port; kept for the next opening.
    QString settings() const { return settings_; }
    CommOutcome setSettings(const QString &settings);

    bool isOpen() const;
    // Opens with the port number (or device) and settings last written.
    CommOutcome open();
    // Closing a closed port is accepted.
    CommOutcome close();

    // Queues the text for sending and pushes it towards the line at once;
    // the caller does not wait for the wire.
    CommOutcome write(QStringView text);

    // Every character received and not yet read; "" if none.
    QString readAll();

    // The words for the descriptions of line failures; by default a log's.
    void setWording(Wording wording) { wording_ = std::move(wording); }
    // How long a network connection may take, host lookup included.
    void setConnectTimeLimit(int ms) { options_.connectTimeLimitMs = ms; }
    // The network line while a network port is open or opening; else null.
    const NetworkLine *networkLine() const;

    // The device named for a port number (--comN, MV70_COMN or the platform's).
    static QString devicePath(int port);
    // The device this component opens: the one set here, else its port
    // number's. For programs that are given devices rather than numbers.
    QString device() const { return device_.isEmpty() ? devicePath(portNumber_) : device_; }
    void setDevice(const QString &device) { device_ = device; }

    // True while a lost line is waited for.
    bool isWaitingForLine() const { return reconnect_.isWaiting(); }
    ReconnectWatch &reconnectWatch() { return reconnect_; }
    static QByteArray encode(QStringView text);
    static QString decode(QByteArrayView bytes);

signals:
    // Characters have arrived: readAll() takes them.
    void received();
    // The bytes of one write have been handed to the device or the
    // socket (for a network port: once connected and negotiated).
    void outputWritten();
    // The open port failed for good (device unplugged, far end gone) and has
    // been closed; it is waited for. Raised once per loss.
    void lineLost(const mv70::serial::LineFailure &failure);
    // A network port's connection could not be made; the port is closed.
    // What a failed opening returns, for an opening that finishes later.
    void openFailed(const mv70::serial::LineFailure &failure);
    // The lost line is open again, with the port number and settings it had.
    void lineRestored();
    // The lost line's device is there again but would not open (another
    // program took it first, say); tried again at each interval. Raised once
    // per cause, with the cause's facts looked up.
    void lineStillAway(const mv70::serial::LineFailure &failure);
    // The speed did not take effect as asked: chosen for a port that cannot
    // carry it (raw TCP), refused by the network serial server, or set by
    // it to another. Raised once per device and notice.
    void settingsNotCarried(const mv70::serial::SettingsNotice &notice);

private:
    CommOutcome lineOutcome(const LineFailure &failure) const;
    CommOutcome openLine();
    void attach(std::unique_ptr<Line> line);
    void onConnected();
    void onFailed(const LineFailure &failure);
    void onLost(const LineFailure &failure);
    void onSettingsNotice(const SettingsNotice &notice);
    bool reopenLostLine();
    void stopWaiting();

    std::unique_ptr<Line> line_;
    LineOptions options_;
    Wording wording_;
    bool quietAttempt_ = false;    // a reopening that reports nothing until it succeeds
    QString settingsNoticeGiven_;  // the device and notice last told about
    int portNumber_ = 1;
    QString device_;
    QString settings_ = QStringLiteral("9600,N,8,1");
    ReconnectWatch reconnect_{[this] { return reopenLostLine(); }};
    QString stillAway_;  // the cause last told of a device that is back but would not open
};

// Makes `exchange` write through `comm` and hear when the bytes have left:
// its reply window then runs from the moment they are on their way.
void bindExchange(Port &port, Exchange &exchange);

}  // namespace mv70::serial
