#include "serial/mscomm.h"

#include <QScopedValueRollback>

#include <utility>

#include "logic/line_settings.h"
#include "logic/network_address.h"
#include "serial/port_device.h"
#include "serial/port_diagnosis.h"

namespace mv70::serial {
namespace {

QSerialPort::Parity toQt(LineSettings::Parity parity) {
    switch (parity) {
    case LineSettings::Parity::None:
        return QSerialPort::NoParity;
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits stopBits) {
    switch (stopBits) {
    case LineSettings::StopBits::One:
        return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

bool isFatal(QSerialPort::SerialPortError error) {
    // Modem-line calls are refused by pseudo-terminals and some adapters;
    // that is not a reason to give the port up.
    return error != QSerialPort::NoError && error != QSerialPort::UnsupportedOperationError
        && error != QSerialPort::TimeoutError;
}

}  // namespace

MSComm::MSComm(QObject *parent) : QObject(parent) {
    // A child, so that what the port reports can be watched from outside.
    port_.setParent(this);
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        commEvent_ = comEvReceive;
        emit OnComm();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &MSComm::onError);
    connect(&reconnect_, &ReconnectWatch::restored, this,
            [this] { emit lineRestored(QStringLiteral("%1 is back").arg(portLabel())); });

    network_.setParent(this);
    connect(&network_, &NetworkLine::readyRead, this, [this] {
        if (quietAttempt_)
            return;  // kept until the line counts as open again
        commEvent_ = comEvReceive;
        emit OnComm();
    });
    // What was written while connecting has been sent by now.
    connect(&network_, &NetworkLine::connected, this, [this] {
        for (int waiting = std::exchange(outputsWaiting_, 0); waiting > 0; --waiting)
            emit outputWritten();
    });
    connect(&network_, &NetworkLine::connected, this, &MSComm::onNetworkRestored);
    connect(&network_, &NetworkLine::failed, this, [this] { outputsWaiting_ = 0; });
    connect(&network_, &NetworkLine::failed, this, &MSComm::onNetworkFailed);
    // The connection is closed already, and lost once per connection.
    connect(&network_, &NetworkLine::lost, this, [this](const QString &cause) {
        outputsWaiting_ = 0;
        (void)loseLine(cause);
    });
}

MSComm::~MSComm() {
    if (port_.isOpen())
        port_.close();
}

QString MSComm::devicePath(int port) { return portDevice(port); }

QByteArray MSComm::encodeOutput(QStringView text) {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        bytes[i] = c < 0x80 ? static_cast<char>(c) : '?';
    }
    return bytes;
}

QString MSComm::decodeInput(QByteArrayView bytes) { return QString::fromLatin1(bytes); }

QString MSComm::portLabel() const { return QStringLiteral("COM%1 (%2)").arg(commPort_).arg(device()); }

CommOutcome MSComm::setCommPort(int port) {
    if (PortOpen())
        return CommOutcome::failure(QStringLiteral("Port already open: close %1 first").arg(portLabel()));
    if (port < 1 || port > kMaxPort)
        return CommOutcome::failure(QStringLiteral("Invalid port number %1").arg(port));
    stopWaiting();
    commPort_ = port;
    return {};
}

CommOutcome MSComm::applySettings(const QString &settings) {
    auto parsed = parseLineSettings(settings);
    if (const QString *why = std::get_if<QString>(&parsed))
        return CommOutcome::failure(*why);
    const LineSettings &line = std::get<LineSettings>(parsed);
    if (network_.isOpen()) {
        network_.applySettings(line);
        return {};
    }
    if (!port_.isOpen())
        return {};
    const QScopedValueRollback busy(inOperation_, true);
    const bool applied = port_.setBaudRate(line.baudRate) && port_.setParity(toQt(line.parity))
                      && port_.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits))
                      && port_.setStopBits(toQt(line.stopBits)) && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied)
        return CommOutcome::failure(
            QStringLiteral("%1 refused the settings \"%2\": %3").arg(portLabel(), settings, port_.errorString()));
    return {};
}

CommOutcome MSComm::setSettings(const QString &settings) {
    CommOutcome outcome = applySettings(settings);
    if (!outcome)
        return outcome;
    settings_ = settings;
    // Raw TCP carries bytes only: the speed is whatever the server's port
    // is set to. Said once, when a speed is chosen for such a port.
    if (PortOpen() && network_.isOpen() && network_.address().mode == TelnetReader::Mode::Raw
        && speedNoticeGiven_ != device()) {
        speedNoticeGiven_ = device();
        emit notice(QStringLiteral("%1: raw TCP carries no line settings; the speed is the one set at the "
                                   "network serial server")
                        .arg(portLabel()));
    }
    return outcome;
}

bool MSComm::PortOpen() const { return port_.isOpen() || (network_.isOpen() && !quietAttempt_); }

QString MSComm::describeOpenFailure(QSerialPort::SerialPortError error, const QString &errorString) const {
    const QString name = device();
    return serial::describeOpenFailure(commPort_, name, resolveDevice(name), error, errorString);
}

CommOutcome MSComm::setPortOpen(bool open) {
    stopWaiting();  // the operator's word ends any wait
    if (!open) {
        if (port_.isOpen())
            port_.close();
        network_.close();
        outputsWaiting_ = 0;
        return {};
    }
    if (PortOpen())
        return CommOutcome::failure(QStringLiteral("Port already open: %1").arg(portLabel()));
    return openDevice();
}

CommOutcome MSComm::openDevice() {
    const QString path = device();
    if (isNetworkDevice(path))
        return openNetwork(path);
    return openPort();
}

CommOutcome MSComm::openPort() {
    {
        const QScopedValueRollback busy(inOperation_, true);
        // By the file the name leads to now: the lock and the exclusive
        // open then keep out a second user whatever name it gave.
        const QString name = device();
        const QString resolved = resolveDevice(name);
        // The serial library takes a lock file in the shared form of other
        // serial programs (minicom, picocom: the process number alone) for
        // a stale one of its own; a live owner keeps the device.
        const auto heldByLock = [](const QString &lockedName) {
            const std::optional<Holder> owner = lockOwner(lockedName);
            return owner && owner->lockOfSharedForm;
        };
        if (heldByLock(resolved) || (name != resolved && heldByLock(name)))
            return CommOutcome::failure(describeOpenFailure(QSerialPort::PermissionError, {}));
        port_.setPortName(resolved);
        port_.clearError();
        if (!port_.open(QIODevice::ReadWrite))
            return CommOutcome::failure(describeOpenFailure(port_.error(), port_.errorString()));
        // A legacy name with no port behind it may open, and then carries
        // nothing: better told now than as silence later.
        if (isPortWithoutHardware(resolved)) {
            port_.close();
            return CommOutcome::failure(describeOpenFailure(QSerialPort::OpenError, {}));
        }
    }
    CommOutcome outcome = applySettings(settings_);
    if (!outcome)
        port_.close();
    return outcome;
}

CommOutcome MSComm::openNetwork(const QString &device) {
    auto address = parseNetworkAddress(device);
    if (const QString *why = std::get_if<QString>(&address))
        return CommOutcome::failure(QStringLiteral("COM%1: %2").arg(commPort_).arg(*why));
    auto line = parseLineSettings(settings_);  // checked when it was written
    network_.open(std::get<NetworkAddress>(address),
                  std::holds_alternative<LineSettings>(line) ? std::get<LineSettings>(line) : LineSettings{},
                  connectTimeLimitMs_);
    return {};
}

void MSComm::onNetworkFailed(const QString &cause) {
    if (std::exchange(quietAttempt_, false))
        return;  // a quiet attempt of the wait: the next one follows
    emit openFailed(
        QStringLiteral("COM%1: cannot connect to %2: %3").arg(commPort_).arg(network_.address().hostAndPort(), cause));
}

void MSComm::onNetworkRestored() {
    if (!std::exchange(quietAttempt_, false))
        return;  // an opening of the operator's: nothing to tell
    reconnect_.stop();
    emit lineRestored(QStringLiteral("%1 is back").arg(portLabel()));
}

bool MSComm::reopenLostLine() {
    const QString name = device();
    if (isNetworkDevice(name)) {
        // A network port is looked at by trying to connect, quietly; the
        // connection's own event tells when it is back.
        if (network_.isOpen() || port_.isOpen())
            return false;  // an attempt is under way
        quietAttempt_ = true;
        if (!openNetwork(name))
            quietAttempt_ = false;
        return false;
    }
    // Opening is tried only when the name leads to a device again: while it
    // is gone, a look at the name is all a probe costs.
    if (port_.isOpen() || !devicePresent(resolveDevice(name)))
        return false;
    const CommOutcome outcome = openPort();
    if (outcome)
        return true;
    const QString why = outcome.description().section(u'\n', 0, 0);
    if (why != stillAway_) {
        stillAway_ = why;
        emit lineStillAway(why + QStringLiteral(" Trying again every second..."));
    }
    return false;
}

void MSComm::stopWaiting() {
    reconnect_.stop();
    if (std::exchange(quietAttempt_, false))
        network_.close();
}

CommOutcome MSComm::setOutput(QStringView text) {
    if (!PortOpen())
        return CommOutcome::failure(QStringLiteral("Port not open: %1").arg(portLabel()));
    const QByteArray bytes = encodeOutput(text);
    if (bytes.isEmpty())
        return {};
    if (network_.isOpen()) {
        if (network_.write(bytes)) {
            if (network_.isConnected())
                emit outputWritten();
            else
                ++outputsWaiting_;
            return {};
        }
        return CommOutcome::failure(
            QStringLiteral("%1: write failed: too much waiting for the connection").arg(portLabel()));
    }
    QString failure;
    {
        const QScopedValueRollback busy(inOperation_, true);
        port_.clearError();
        if (port_.write(bytes) != bytes.size())
            failure = port_.errorString();
        else
            port_.flush();  // hand the bytes to the driver now rather than on the next loop pass
        if (failure.isEmpty() && isFatal(port_.error()))
            failure = port_.errorString();
    }
    if (failure.isEmpty()) {
        emit outputWritten();
        return {};
    }
    return CommOutcome::failure(loseLine(QStringLiteral("write failed: %1").arg(failure)));
}

QString MSComm::Input() {
    if (network_.isOpen())
        return decodeInput(network_.readAll());
    if (!port_.isOpen())
        return {};
    return decodeInput(port_.readAll());
}

void MSComm::onError(QSerialPort::SerialPortError error) {
    if (!isFatal(error) || inOperation_ || !port_.isOpen())
        return;
    (void)loseLine(QStringLiteral("the line failed: %1").arg(port_.errorString()));
}

QString MSComm::loseLine(const QString &what) {
    const bool network = isNetworkDevice(device());
    if (!network && !port_.isOpen())
        return QStringLiteral("%1: %2").arg(portLabel(), what);
    if (port_.isOpen())
        port_.close();
    // Closed first: a device that was unplugged has gone from /dev by now.
    // A network connection's cause is its own words already.
    const QString description = QStringLiteral("%1 disconnected: %2. Waiting for it to come back...")
                                    .arg(portLabel(), network ? what : describeLoss(device(), what));
    stillAway_.clear();
    reconnect_.start();  // before the event: its handlers may choose a port, which stops it
    emit lineLost(description);
    return description;
}

}  // namespace mv70::serial
