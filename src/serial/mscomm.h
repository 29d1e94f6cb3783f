#pragma once
// MSComm: the window's serial component. A small class of ours with the
// properties and the event the program relies on, over Qt SerialPort, on the
// GUI thread.
//
// Port N is the device named by --comN or the environment variable MV70_COMN
// (a USB adapter such as /dev/ttyUSB0, or a pseudo-terminal), otherwise the
// platform's own: /dev/ttyS0 for port 1 on Linux, COM1 on Windows. A local
// device is opened by the file its name leads to at that moment, so that one
// device is one port whatever name it was given.
//
// The device may also be a port of a network serial server,
// rfc2217://HOST:PORT or tcp://HOST:PORT (serial/network_address.h): then
// opening starts the connection and returns at once; the port counts as
// open while it connects, what is sent meanwhile goes out once it is made,
// and an attempt that fails is reported by openFailed.
//
// A line lost while open (adapter unplugged, server gone) is waited for:
// once a second the same name is looked at (for a network port: a quiet
// connection attempt), and when it leads to a device again the port is
// reopened with the number and settings it had. Any operation of the
// operator's on the port (a port number, opening, closing) ends the wait.
//
// Characters and bytes: the line carries one byte per character.
//  - Output: every character from U+0000 to U+007F is sent as that byte.
//    Every other character (each UTF-16 unit, so a character outside the
//    Basic Multilingual Plane counts as two) is sent as "?" (0x3F): the
//    projector speaks ASCII only, and one byte per character keeps what was
//    sent and what the TXD line shows in step.
//  - Input: every byte 0x00 to 0xFF becomes the character of the same code
//    (Latin-1), so no byte is lost or merged.

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "serial/network_line.h"
#include "serial/reconnect_watch.h"

namespace mv70::serial {

// The result of an operation: success, or a failure with its description.
class [[nodiscard]] CommOutcome {
public:
    CommOutcome() = default;
    static CommOutcome failure(QString description) {
        CommOutcome outcome;
        outcome.failed_ = true;
        outcome.description_ = std::move(description);
        return outcome;
    }
    explicit operator bool() const { return !failed_; }
    const QString &description() const { return description_; }

private:
    bool failed_ = false;
    QString description_;
};

class MSComm : public QObject {
    Q_OBJECT

public:
    static constexpr qint16 comEvReceive = 2;
    static constexpr int kMaxPort = 16;

    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    // Port number, 1 to 16. Accepted only while the port is closed.
    int CommPort() const { return commPort_; }
    CommOutcome setCommPort(int port);

    // "19200,N,8,1". Applies at once to an open port; kept for the next opening.
    QString Settings() const { return settings_; }
    CommOutcome setSettings(const QString &settings);

    bool PortOpen() const;
    // Opening uses the port number and settings last written. Closing a
    // closed port is accepted.
    CommOutcome setPortOpen(bool open);

    // Queues the text for sending and pushes it towards the line at once;
    // the caller does not wait for the wire.
    CommOutcome setOutput(QStringView text);

    // Every character received and not yet read; "" if none.
    QString Input();

    // Kind of the event being delivered by OnComm.
    qint16 CommEvent() const { return commEvent_; }

    // How long a network connection may take, host lookup included.
    void setConnectTimeLimit(int ms) { connectTimeLimitMs_ = ms; }
    const NetworkLine &networkLine() const { return network_; }

    // The device named for a port number (--comN, MV70_COMN or the platform's).
    static QString devicePath(int port);
    // The device this component opens: the one set here, else its port
    // number's. For programs that are given devices rather than numbers.
    QString device() const { return device_.isEmpty() ? devicePath(commPort_) : device_; }
    void setDevice(const QString &device) { device_ = device; }

    // True while a lost line is waited for.
    bool isWaitingForLine() const { return reconnect_.isWaiting(); }
    ReconnectWatch &reconnectWatch() { return reconnect_; }
    static QByteArray encodeOutput(QStringView text);
    static QString decodeInput(QByteArrayView bytes);

signals:
    // Characters have arrived (CommEvent is comEvReceive).
    void OnComm();
    // The open port failed for good (device unplugged, far end gone) and has
    // been closed; it is waited for. Raised once per loss.
    void lineLost(const QString &description);
    // A network port's connection could not be made; the port is closed.
    // What a failed opening returns, for an opening that finishes later.
    void openFailed(const QString &description);
    // The lost line is open again, with the port number and settings it had.
    void lineRestored(const QString &description);
    // The lost line's device is there again but would not open (another
    // program took it first, say); tried again every second. Raised once per
    // reason.
    void lineStillAway(const QString &description);
    // Something the operator should know that is not a failure.
    void notice(const QString &description);
    // The bytes of one setOutput have been handed to the device or the
    // socket: raised once per setOutput that succeeded, in order. For a local
    // device before setOutput returns; for a network port once the
    // connection (and the COM port negotiation) is made. Bytes dropped with
    // a connection that failed or was closed are never raised.
    void outputWritten();

private:
    QString portLabel() const;
    QString describeOpenFailure(QSerialPort::SerialPortError error, const QString &errorString) const;
    CommOutcome applySettings(const QString &settings);
    void onError(QSerialPort::SerialPortError error);
    CommOutcome openDevice();
    CommOutcome openPort();
    CommOutcome openNetwork(const QString &device);
    void onNetworkFailed(const QString &cause);
    void onNetworkRestored();
    bool reopenLostLine();
    void stopWaiting();
    QString loseLine(const QString &what);

    QSerialPort port_;
    NetworkLine network_;
    bool quietAttempt_ = false;  // a reopening that reports nothing until it succeeds
    int connectTimeLimitMs_ = 5000;
    QString speedNoticeGiven_;  // the raw network device last told about
    int commPort_ = 1;
    QString device_;
    QString settings_ = QStringLiteral("9600,N,8,1");
    qint16 commEvent_ = 0;
    bool inOperation_ = false;  // our own calls report their failures themselves
    ReconnectWatch reconnect_{[this] { return reopenLostLine(); }};
    QString stillAway_;       // why the device that is back did not open, last told
    int outputsWaiting_ = 0;  // setOutputs waiting for the network connection
};

}  // namespace mv70::serial
