// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A line to the projector, whatever carries it: a local serial device or a
// port of a network serial server. The kind is chosen once, from the
// device's name, by makeLine(); everything above talks to this interface.
//
// Bytes only: what the bytes mean, and what a failure is called, is the
// business of the program that uses the line.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

#include "logic/line_settings.h"
#include "serial/line_failure.h"

namespace mv70::serial {

// What a line found out about the speed it was asked to run at: the
// settings did not reach the port, or the port runs at another speed. Each
// program words it for its own user; settingsText() is a log's wording.
struct SettingsNotice {
    enum class Kind {
        NotCarried,        // raw TCP: the line carries bytes only
        OptionRefused,     // the server refused the COM port option
        OptionUnanswered,  // the server never answered the COM port option
        OtherSpeed,        // the server set its port to `confirmed`, not `asked`
    };
    Kind kind = Kind::NotCarried;
    qint32 asked = 0;      // bits per second asked for
    qint32 confirmed = 0;  // OtherSpeed: bits per second the server confirmed

    bool operator==(const SettingsNotice &) const = default;
};

// The notice in one line, for a log: "tcp://host:4001: raw TCP carries no
// line settings; the speed is the server's".
QString logText(const QString &device, const SettingsNotice &notice);

class Line : public QObject {
    Q_OBJECT

public:
    explicit Line(QString device, QObject *parent = nullptr) : QObject(parent), device_(std::move(device)) {}

    // The device as it was named.
    const QString &device() const { return device_; }

    // Opens with these settings. A failure known at once is returned. A line
    // that connects in the background counts as open meanwhile and reports
    // the outcome later, by connected() or failed().
    virtual std::optional<LineFailure> open(const LineSettings &settings) = 0;
    // Closes the line, or drops the attempt; raises nothing.
    virtual void close() = 0;
    // Open, or opening.
    virtual bool isOpen() const = 0;
    // Carrying bytes now: open, and connected where there is a connection.
    virtual bool isUp() const = 0;

    // Applies at once to an open line.
    virtual std::optional<LineFailure> applySettings(const LineSettings &settings) = 0;
    // Hands the bytes towards the line; the caller does not wait for the
    // wire. outputWritten() follows once they have been handed to the
    // device or the socket.
    virtual std::optional<LineFailure> write(QByteArrayView bytes) = 0;
    // The bytes received and not yet read.
    virtual QByteArray readAll() = 0;

    // Whether an opening may succeed now, judged without trying: a local
    // device's name leads to a device again. Cheap enough for every probe
    // of a wait.
    virtual bool mayBeBack() const { return true; }
    // False when the line cannot carry line settings (raw TCP: the speed is
    // the server's).
    virtual bool carriesSettings() const { return true; }

signals:
    // Bytes have arrived.
    void dataReady();
    // The bytes of one write() have been handed to the device or the socket
    // (for a network line: once the connection and its negotiation are done).
    void outputWritten();
    // A line that connects in the background is up.
    void connected();
    // A background opening failed; the line is closed.
    void failed(const mv70::serial::LineFailure &failure);
    // The open line went away and has been closed. Raised once per loss.
    void lost(const mv70::serial::LineFailure &failure);
    // The settings did not take effect as asked (a network line learns it
    // from the server after the connection is made).
    void settingsNotice(const mv70::serial::SettingsNotice &notice);

private:
    QString device_;
};

struct LineOptions {
    // How long a network connection may take, host lookup included.
    int connectTimeLimitMs = 5000;
};

// The line for a device name: rfc2217://HOST:PORT and tcp://HOST:PORT are
// network lines (logic/network_address.h), every other name a local device.
std::unique_ptr<Line> makeLine(const QString &device, const LineOptions &options = {}, QObject *parent = nullptr);

}  // namespace mv70::serial

Q_DECLARE_METATYPE(mv70::serial::SettingsNotice)
