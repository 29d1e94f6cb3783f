// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port.h"

#include <utility>

#include "logic/exchange.h"
#include "logic/line_settings.h"
#include "serial/network_line.h"
#include "serial/port_device.h"

namespace mv70::serial {

Port::Port(QObject *parent) : QObject(parent) {
    connect(&reconnect_, &ReconnectWatch::restored, this, &Port::lineRestored);
}

Port::~Port() {
    if (line_)
        line_->close();
}

QString Port::devicePath(int port) { return portDevice(port); }

QByteArray Port::encode(QStringView text) {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        bytes[i] = c < 0x80 ? static_cast<char>(c) : '?';
    }
    return bytes;
}

QString Port::decode(QByteArrayView bytes) { return QString::fromLatin1(bytes); }

const NetworkLine *Port::networkLine() const { return qobject_cast<const NetworkLine *>(line_.get()); }

namespace {

QString portLabel(int port, const QString &device) { return QStringLiteral("COM%1 (%2)").arg(port).arg(device); }

}  // namespace

CommOutcome Port::lineOutcome(const LineFailure &failure) const {
    return CommOutcome::failure(wording_ ? wording_(portNumber_, failure) : logText(failure), failure);
}

CommOutcome Port::setPortNumber(int port) {
    if (isOpen())
        return CommOutcome::failure(
            QStringLiteral("Port already open: close %1 first").arg(portLabel(portNumber_, device())));
    if (port < 1 || port > kMaxPort)
        return CommOutcome::failure(QStringLiteral("Invalid port number %1").arg(port));
    stopWaiting();
    portNumber_ = port;
    return {};
}

CommOutcome Port::setSettings(const QString &settings) {
    auto parsed = parseLineSettings(settings);
    if (const QString *why = std::get_if<QString>(&parsed))
        return CommOutcome::failure(*why);
    if (line_ && line_->isOpen() && !quietAttempt_) {
        if (std::optional<LineFailure> refused = line_->applySettings(std::get<LineSettings>(parsed))) {
            refused->settings = settings;
            return lineOutcome(*refused);
        }
    }
    settings_ = settings;
    // Raw TCP carries bytes only: the speed is whatever the server's port
    // is set to. Said once, when a speed is chosen for such a port.
    if (isOpen() && !line_->carriesSettings())
        onSettingsNotice({SettingsNotice::Kind::NotCarried, 0, 0});
    return {};
}

bool Port::isOpen() const { return line_ && line_->isOpen() && !quietAttempt_; }

CommOutcome Port::open() {
    stopWaiting();  // the operator's word ends any wait
    if (isOpen())
        return CommOutcome::failure(QStringLiteral("Port already open: %1").arg(portLabel(portNumber_, device())));
    return openLine();
}

CommOutcome Port::close() {
    stopWaiting();  // the operator's word ends any wait
    if (line_)
        line_->close();
    return {};
}

void Port::attach(std::unique_ptr<Line> line) {
    if (line_) {
        // We may be inside one of its signals.
        Line *old = line_.release();
        old->close();
        disconnect(old, nullptr, this, nullptr);
        old->deleteLater();
    }
    line_ = std::move(line);
    line_->setParent(this);
    connect(line_.get(), &Line::dataReady, this, [this] {
        if (quietAttempt_)
            return;  // kept until the line counts as open again
        emit received();
    });
    connect(line_.get(), &Line::outputWritten, this, &Port::outputWritten);
    connect(line_.get(), &Line::connected, this, &Port::onConnected);
    connect(line_.get(), &Line::failed, this, &Port::onFailed);
    connect(line_.get(), &Line::lost, this, &Port::onLost);
    connect(line_.get(), &Line::settingsNotice, this, &Port::onSettingsNotice);
}

void Port::onSettingsNotice(const SettingsNotice &notice) {
    // Each connection made again tells the same: said once.
    const QString key = QStringLiteral("%1 %2 %3 %4")
                            .arg(device())
                            .arg(int(notice.kind))
                            .arg(notice.kind == SettingsNotice::Kind::NotCarried ? 0 : notice.asked)
                            .arg(notice.confirmed);
    if (quietAttempt_ || key == settingsNoticeGiven_)
        return;
    settingsNoticeGiven_ = key;
    emit settingsNotCarried(notice);
}

CommOutcome Port::openLine() {
    // The kind of line is chosen here, once per device name.
    if (!line_ || line_->device() != device())
        attach(makeLine(device(), options_));
    const auto settings = parseLineSettings(settings_);  // checked when it was written
    const std::optional<LineFailure> failure =
        line_->open(std::holds_alternative<LineSettings>(settings) ? std::get<LineSettings>(settings) : LineSettings{});
    if (failure)
        return lineOutcome(*failure);
    return {};
}

void Port::onConnected() {
    if (!std::exchange(quietAttempt_, false))
        return;  // an opening of the operator's: nothing to tell
    // A connection may be dropped as soon as it is made: it is back once it
    // has stayed up a moment.
    reconnect_.lineUp(false);
}

void Port::onFailed(const LineFailure &failure) {
    if (std::exchange(quietAttempt_, false))
        return;  // a quiet attempt of the wait: the next one follows
    emit openFailed(failure);
}

void Port::onLost(const LineFailure &failure) {
    if (std::exchange(quietAttempt_, false))
        return;  // lost while a quiet attempt was being made: it never came back
    stillAway_.clear();
    // Before the event: its handlers may choose a port, which stops it. A
    // line lost before it was announced back is not told again.
    if (reconnect_.start())
        emit lineLost(failure);
}

bool Port::reopenLostLine() {
    // While the device is gone, a look at its name is all a probe costs.
    if (!line_ || line_->isOpen() || !line_->mayBeBack())
        return false;
    const auto settings = parseLineSettings(settings_);
    quietAttempt_ = true;
    const std::optional<LineFailure> failure =
        line_->open(std::holds_alternative<LineSettings>(settings) ? std::get<LineSettings>(settings) : LineSettings{});
    if (!failure) {
        if (!line_->isUp())
            return false;  // connecting: its own event tells
        quietAttempt_ = false;
        return true;
    }
    quietAttempt_ = false;
    // Why it did not open is looked into once per cause, off this thread.
    if (failure->key() != stillAway_) {
        stillAway_ = failure->key();
        diagnoseInBackground(*failure, this, [this](const LineFailure &diagnosed) {
            if (isWaitingForLine())
                emit lineStillAway(diagnosed);
        });
    }
    return false;
}

void Port::stopWaiting() {
    reconnect_.stop();
    if (std::exchange(quietAttempt_, false) && line_)
        line_->close();
}

CommOutcome Port::write(QStringView text) {
    if (!isOpen())
        return CommOutcome::failure(QStringLiteral("Port not open: %1").arg(portLabel(portNumber_, device())));
    const QByteArray bytes = encode(text);
    if (bytes.isEmpty())
        return {};
    if (const std::optional<LineFailure> failure = line_->write(bytes))
        return lineOutcome(*failure);
    return {};
}

QString Port::readAll() {
    if (!line_ || !line_->isOpen() || quietAttempt_)
        return {};
    return decode(line_->readAll());
}

void bindExchange(Port &port, Exchange &exchange) {
    exchange.setWriter([&port](QStringView text) -> QString {
        const CommOutcome sent = port.write(text);
        if (sent)
            return {};
        return sent.description().isEmpty() ? QStringLiteral("write failed") : sent.description();
    });
    QObject::connect(&port, &Port::outputWritten, &exchange, &Exchange::bytesLeft);
}

}  // namespace mv70::serial
