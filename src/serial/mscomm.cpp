#include "serial/mscomm.h"

#include <QFileInfo>
#include <QScopedValueRollback>

#include <utility>

#include "serial/line_settings.h"
#include "serial/network_address.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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

    network_.setParent(this);
    connect(&network_, &NetworkLine::readyRead, this, [this] {
        if (quietAttempt_)
            return;  // kept until the line counts as open again
        commEvent_ = comEvReceive;
        emit OnComm();
    });
    connect(&network_, &NetworkLine::connected, this, [this] {
        if (!quietAttempt_)
            return;
        quietAttempt_ = false;
        retry_.stop();
        emit lineRestored();
    });
    connect(&network_, &NetworkLine::failed, this, &MSComm::onNetworkFailed);
    // The connection is closed already, and lost once per connection.
    connect(&network_, &NetworkLine::lost, this, [this](const QString &cause) {
        retry_.start();  // before the event: its handlers may choose a port, which stops it
        emit lineLost(QStringLiteral("%1 lost: %2").arg(portLabel(), cause));
    });
    retry_.setParent(this);
    retry_.setInterval(kRetryIntervalMs);
    connect(&retry_, &QTimer::timeout, this, [this] { (void)tryReopen(); });
}

MSComm::~MSComm() {
    if (port_.isOpen())
        port_.close();
}

QString MSComm::devicePath(int port) {
    const QByteArray fromEnvironment = qgetenv(QStringLiteral("MV70_COM%1").arg(port).toLatin1().constData());
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

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
    return QStringLiteral("COM%1 (%2)").arg(commPort_).arg(device());
}

CommOutcome MSComm::setCommPort(int port) {
    if (PortOpen())
        return CommOutcome::failure(QStringLiteral("Port already open: close %1 first").arg(portLabel()));
    if (port < 1 || port > kMaxPort)
        return CommOutcome::failure(QStringLiteral("Invalid port number %1").arg(port));
    stopRetrying();
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
                      && port_.setStopBits(toQt(line.stopBits))
                      && port_.setFlowControl(QSerialPort::NoFlowControl);
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

QString MSComm::describeOpenFailure() const {
    const QString path = device();
    switch (port_.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("COM%1: no such device %2").arg(commPort_).arg(path);
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        if (::access(QFileInfo(path).absoluteFilePath().toLocal8Bit().constData(), R_OK | W_OK) != 0)
            return QStringLiteral("COM%1: no permission to open %2 (the user must be a member of "
                                  "the group that owns it, usually dialout)")
                .arg(commPort_)
                .arg(path);
#endif
        return QStringLiteral("COM%1: %2 is in use by another program").arg(commPort_).arg(path);
    default:
        return QStringLiteral("COM%1: cannot open %2: %3").arg(commPort_).arg(path, port_.errorString());
    }
}

CommOutcome MSComm::setPortOpen(bool open) {
    if (!open) {
        stopRetrying();
        if (port_.isOpen())
            port_.close();
        network_.close();
        return {};
    }
    if (PortOpen())
        return CommOutcome::failure(QStringLiteral("Port already open: %1").arg(portLabel()));
    stopRetrying();
    return openDevice();
}

CommOutcome MSComm::openDevice() {
    const QString path = device();
    if (isNetworkDevice(path))
        return openNetwork(path);
    {
        const QScopedValueRollback busy(inOperation_, true);
        port_.setPortName(path);
        port_.clearError();
        if (!port_.open(QIODevice::ReadWrite))
            return CommOutcome::failure(describeOpenFailure());
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
        return;  // the next try follows
    emit openFailed(QStringLiteral("COM%1: cannot connect to %2: %3")
                        .arg(commPort_)
                        .arg(network_.address().hostAndPort(), cause));
}

CommOutcome MSComm::tryReopen() {
    if (PortOpen() || network_.isOpen())
        return {};  // open, or an attempt under way
    const bool network = isNetworkDevice(device());
    quietAttempt_ = network;
    CommOutcome outcome = openDevice();
    if (!outcome) {
        quietAttempt_ = false;
        return outcome;
    }
    if (!network) {
        retry_.stop();
        emit lineRestored();
    }
    return outcome;
}

void MSComm::stopRetrying() {
    retry_.stop();
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
        if (network_.write(bytes))
            return {};
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
    if (failure.isEmpty())
        return {};
    const QString description = QStringLiteral("%1: write failed: %2").arg(portLabel(), failure);
    loseLine(description);
    return CommOutcome::failure(description);
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
    loseLine(QStringLiteral("%1 lost: %2").arg(portLabel(), port_.errorString()));
}

void MSComm::loseLine(const QString &description) {
    if (!port_.isOpen())
        return;
    port_.close();
    emit lineLost(description);
}

}  // namespace mv70::serial
