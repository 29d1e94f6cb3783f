#include "serial/mscomm.h"

#include <QScopedValueRollback>

#include "serial/line_settings.h"
#include "serial/port_device.h"
#include "serial/port_diagnosis.h"

namespace mv70::serial {
namespace {

QSerialPort::Parity toQt(LineSettings::Parity parity) {
    switch (parity) {
    case LineSettings::Parity::None: return QSerialPort::NoParity;
    case LineSettings::Parity::Even: return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd: return QSerialPort::OddParity;
    case LineSettings::Parity::Mark: return QSerialPort::MarkParity;
    case LineSettings::Parity::Space: return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits stopBits) {
    switch (stopBits) {
    case LineSettings::StopBits::One: return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two: return QSerialPort::TwoStop;
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

QString MSComm::portLabel() const {
    return QStringLiteral("COM%1 (%2)").arg(commPort_).arg(devicePath(commPort_));
}

CommOutcome MSComm::setCommPort(int port) {
    if (port_.isOpen())
        return CommOutcome::failure(QStringLiteral("Port already open: close %1 first").arg(portLabel()));
    if (port < 1 || port > kMaxPort)
        return CommOutcome::failure(QStringLiteral("Invalid port number %1").arg(port));
    reconnect_.stop();
    commPort_ = port;
    return {};
}

CommOutcome MSComm::applySettings(const QString &settings) {
    auto parsed = parseLineSettings(settings);
    if (const QString *why = std::get_if<QString>(&parsed))
        return CommOutcome::failure(*why);
    if (!port_.isOpen())
        return {};
    const LineSettings &line = std::get<LineSettings>(parsed);
    const QScopedValueRollback busy(inOperation_, true);
    const bool applied = port_.setBaudRate(line.baudRate) && port_.setParity(toQt(line.parity))
                      && port_.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits))
                      && port_.setStopBits(toQt(line.stopBits))
                      && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied)
        return CommOutcome::failure(
            QStringLiteral("%1 refused the settings \"%2\": %3").arg(portLabel(), settings, port_.errorString()));
    return {};
}

CommOutcome MSComm::setSettings(const QString &settings) {
    CommOutcome outcome = applySettings(settings);
    if (outcome)
        settings_ = settings;
    return outcome;
}

bool MSComm::PortOpen() const { return port_.isOpen(); }

QString MSComm::describeOpenFailure(QSerialPort::SerialPortError error, const QString &errorString) const {
    const QString name = devicePath(commPort_);
    return serial::describeOpenFailure(commPort_, name, resolveDevice(name), error, errorString);
}

CommOutcome MSComm::setPortOpen(bool open) {
    reconnect_.stop();  // the operator's word ends any wait
    if (!open) {
        if (port_.isOpen())
            port_.close();
        return {};
    }
    if (port_.isOpen())
        return CommOutcome::failure(QStringLiteral("Port already open: %1").arg(portLabel()));
    return openPort();
}

CommOutcome MSComm::openPort() {
    {
        const QScopedValueRollback busy(inOperation_, true);
        // By the file the name leads to now: the lock and the exclusive
        // open then keep out a second user whatever name it gave.
        const QString name = devicePath(commPort_);
        const QString device = resolveDevice(name);
        // The serial library takes a lock file in the shared form of other
        // serial programs (minicom, picocom: the process number alone) for
        // a stale one of its own; a live owner keeps the device.
        const auto heldByLock = [](const QString &lockedName) {
            const std::optional<Holder> owner = lockOwner(lockedName);
            return owner && owner->lockOfSharedForm;
        };
        if (heldByLock(device) || (name != device && heldByLock(name)))
            return CommOutcome::failure(describeOpenFailure(QSerialPort::PermissionError, {}));
        port_.setPortName(device);
        port_.clearError();
        if (!port_.open(QIODevice::ReadWrite))
            return CommOutcome::failure(describeOpenFailure(port_.error(), port_.errorString()));
        // A legacy name with no port behind it may open, and then carries
        // nothing: better told now than as silence later.
        if (isPortWithoutHardware(device)) {
            port_.close();
            return CommOutcome::failure(describeOpenFailure(QSerialPort::OpenError, {}));
        }
    }
    CommOutcome outcome = applySettings(settings_);
    if (!outcome)
        port_.close();
    return outcome;
}

bool MSComm::reopenLostLine() {
    // Opening is tried only when the name leads to a device again: while it
    // is gone, a look at the name is all a probe costs.
    if (port_.isOpen() || !devicePresent(resolveDevice(devicePath(commPort_))))
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

CommOutcome MSComm::setOutput(QStringView text) {
    if (!port_.isOpen())
        return CommOutcome::failure(QStringLiteral("Port not open: %1").arg(portLabel()));
    const QByteArray bytes = encodeOutput(text);
    if (bytes.isEmpty())
        return {};
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
    if (failure.isEmpty())
        return {};
    return CommOutcome::failure(loseLine(QStringLiteral("write failed: %1").arg(failure)));
}

QString MSComm::Input() {
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
    if (!port_.isOpen())
        return QStringLiteral("%1: %2").arg(portLabel(), what);
    port_.close();
    // Closed first: a device that was unplugged has gone from /dev by now.
    const QString description = QStringLiteral("%1 disconnected: %2. Waiting for it to come back...")
                                    .arg(portLabel(), describeLoss(devicePath(commPort_), what));
    stillAway_.clear();
    reconnect_.start();
    emit lineLost(description);
    return description;
}

}  // namespace mv70::serial
