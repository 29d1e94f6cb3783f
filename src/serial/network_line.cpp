// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/network_line.h"

#include <utility>

namespace mv70::serial {
namespace {

QString causeOf(QAbstractSocket::SocketError error, const QString &fallback) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("no such host");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("timed out");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the server closed the connection");
    default:
        return fallback;
    }
}

}  // namespace

NetworkLine::NetworkLine(const QString &device, int timeLimitMs, QObject *parent)
    : Line(device, parent), timeLimitMs_(timeLimitMs) {
    auto parsed = parseNetworkAddress(device);
    if (const NetworkAddress *address = std::get_if<NetworkAddress>(&parsed))
        address_ = *address;
    else
        malformed_ = std::get<QString>(parsed);
    timeLimit_.setSingleShot(true);
    connect(&timeLimit_, &QTimer::timeout, this, [this] {
        if (state_ == State::Connecting) {
            finish(false, QStringLiteral("timed out"));
        } else if (state_ == State::Negotiating) {
            // The server never answered the COM port option: carry on without it.
            const qint32 asked = settings_ ? settings_->baudRate : 0;
            const quint64 attempt = attempt_;
            becomeReady();
            if (attempt == attempt_ && state_ == State::Connected)
                emit settingsNotice({SettingsNotice::Kind::OptionUnanswered, asked, 0});
        }
    });
    nextPass_.setSingleShot(true);
    nextPass_.setInterval(kNextPassMs);
    nextPass_.setTimerType(Qt::PreciseTimer);
    connect(&nextPass_, &QTimer::timeout, this, &NetworkLine::readPass);
}

NetworkLine::~NetworkLine() { close(); }

LineFailure NetworkLine::failure(LineFailure::Cause cause, const QString &detail) const {
    LineFailure failure;
    failure.cause = cause;
    failure.device = device();
    failure.detail = detail;
    return failure;
}

std::optional<LineFailure> NetworkLine::open(const LineSettings &settings) {
    close();
    if (!malformed_.isEmpty())
        return failure(LineFailure::Cause::BadAddress, malformed_);
    reader_ = TelnetReader(address_.mode);
    settings_ = settings;
    askedSpeeds_.clear();
    baudReplies_ = 0;
    negotiationRun_.invalidate();
    negotiationBytes_ = 0;
    state_ = State::Connecting;
    socket_ = new QTcpSocket(this);
    socket_->setReadBufferSize(kReadChunk);
    connect(socket_, &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &NetworkLine::onError);
    connect(socket_, &QTcpSocket::disconnected, this, &NetworkLine::onDisconnected);
    timeLimit_.start(timeLimitMs_);
    // Started from the event loop, so that even an immediate refusal is
    // reported after open() has returned, never inside it.
    QMetaObject::invokeMethod(
        this,
        [this, attempt = ++attempt_, host = address_.host, port = address_.port] {
            if (attempt == attempt_ && socket_)  // not closed or opened again meanwhile
                socket_->connectToHost(host, port);
        },
        Qt::QueuedConnection);
    return std::nullopt;
}

void NetworkLine::close() {
    ++attempt_;
    state_ = State::Closed;
    timeLimit_.stop();
    nextPass_.stop();
    pending_.clear();
    pendingWrites_ = 0;
    received_.clear();
    settings_.reset();
    if (socket_) {
        QTcpSocket *socket = std::exchange(socket_, nullptr);
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater();  // we may be inside one of its signals
    }
}

void NetworkLine::finish(bool wasConnected, const QString &cause) {
    close();
    if (wasConnected)
        emit lost(failure(LineFailure::Cause::ConnectionLost, cause));
    else
        emit failed(failure(LineFailure::Cause::CannotConnect, cause));
}

void NetworkLine::onConnected() {
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);  // a command goes out at once
    if (reader_.mode() == TelnetReader::Mode::Raw) {
        becomeReady();
        return;
    }
    state_ = State::Negotiating;
    timeLimit_.start(kNegotiationLimitMs);
    send(reader_.opening());
}

void NetworkLine::becomeReady() {
    state_ = State::Connected;
    timeLimit_.stop();
    const quint64 attempt = attempt_;
    if (settings_ && reader_.comPortAgreed())
        sendSettings();
    const int writes = std::exchange(pendingWrites_, 0);
    if (!pending_.isEmpty())
        send(reader_.encodeData(std::exchange(pending_, {})));
    // Any of those sends may have found the connection reset, and reported
    // it lost already: then it is not up, whatever it was a moment ago.
    if (attempt != attempt_ || state_ != State::Connected)
        return;
    emit connected();
    for (int i = 0; i < writes && attempt == attempt_; ++i)
        emit outputWritten();
}

std::optional<LineFailure> NetworkLine::applySettings(const LineSettings &settings) {
    if (reader_.mode() == TelnetReader::Mode::Raw || state_ == State::Closed)
        return std::nullopt;
    settings_ = settings;
    if (state_ == State::Connected && reader_.comPortAgreed())
        sendSettings();
    return std::nullopt;
}

std::optional<LineFailure> NetworkLine::write(QByteArrayView bytes) {
    switch (state_) {
    case State::Closed:
        return failure(LineFailure::Cause::WriteFailed, QStringLiteral("not connected"));
    case State::Connected: {
        const quint64 attempt = attempt_;
        send(reader_.encodeData(bytes));
        if (attempt == attempt_ && state_ == State::Connected)
            emit outputWritten();
        return std::nullopt;
    }
    case State::Connecting:
    case State::Negotiating:
        if (pending_.size() + bytes.size() > kMaxPending)
            return failure(LineFailure::Cause::Backlog, {});
        pending_ += bytes;
        ++pendingWrites_;
        return std::nullopt;
    }
    return std::nullopt;
}

QByteArray NetworkLine::readAll() { return std::exchange(received_, {}); }

void NetworkLine::send(const QByteArray &bytes) {
    if (!socket_ || bytes.isEmpty())
        return;
    socket_->write(bytes);
    if (socket_)
        socket_->flush();  // to the kernel now rather than on the next loop pass
}

void NetworkLine::sendSettings() {
    const LineSettings settings = *std::exchange(settings_, std::nullopt);
    // Each is confirmed in turn; a server that confirms nothing leaves a
    // few behind, no more.
    constexpr qsizetype kMaxAsked = 8;
    if (askedSpeeds_.size() >= kMaxAsked)
        askedSpeeds_.removeFirst();
    askedSpeeds_.append(settings.baudRate);
    send(reader_.encodeSettings(settings));
}

void NetworkLine::onReadyRead() {
    // With a pass already due, that pass reads what came: in order.
    if (!nextPass_.isActive())
        readPass();
}

bool NetworkLine::floodedWithNegotiation(qint64 read, bool hadData) {
    if (reader_.mode() == TelnetReader::Mode::Raw || read == 0)
        return false;
    if (hadData) {
        negotiationRun_.invalidate();
        return false;
    }
    // A server quiet for a while starts a new run: an occasional notice
    // between long silences is no flood.
    if (!negotiationRun_.isValid() || lastNegotiation_.elapsed() > kNegotiationLimitMs) {
        negotiationRun_.start();
        negotiationBytes_ = 0;
    }
    lastNegotiation_.start();
    negotiationBytes_ += read;
    return negotiationRun_.elapsed() > kNegotiationLimitMs && negotiationBytes_ > kNegotiationFloodBytes;
}

void NetworkLine::checkConfirmedSpeed() {
    const TelnetReader::Confirmed &confirmed = reader_.confirmed();
    if (confirmed.baudReplies == baudReplies_)
        return;
    // The confirmations that came answer the oldest speeds asked for; one
    // that nobody asked for is the server's business.
    const quint32 replies = confirmed.baudReplies - baudReplies_;
    baudReplies_ = confirmed.baudReplies;
    qint32 asked = 0;
    for (quint32 i = 0; i < replies && !askedSpeeds_.isEmpty(); ++i)
        asked = askedSpeeds_.takeFirst();
    if (asked != 0 && confirmed.baudRate != 0 && confirmed.baudRate != asked)
        emit settingsNotice({SettingsNotice::Kind::OtherSpeed, asked, confirmed.baudRate});
}

// One pass: at most kReadPerPass bytes, and another pass right after the
// window's own events while more is waiting.
void NetworkLine::readPass() {
    if (!socket_)
        return;
    const quint64 attempt = attempt_;
    const QByteArray bytes = socket_->read(kReadPerPass);
    QByteArray data;
    QByteArray answers;
    reader_.feed(bytes, data, answers);
    send(answers);
    if (attempt != attempt_ || state_ == State::Closed)
        return;  // the answers found the connection reset
    if (floodedWithNegotiation(bytes.size(), !data.isEmpty())) {
        finish(state_ == State::Connected,
               QStringLiteral("the server sent nothing but Telnet negotiation for more than %1 s")
                   .arg(kNegotiationLimitMs / 1000.0));
        return;
    }
    if (state_ == State::Negotiating && reader_.comPortSettled()) {
        const bool refused = !reader_.comPortAgreed();
        const qint32 asked = settings_ ? settings_->baudRate : 0;
        becomeReady();
        if (refused && attempt == attempt_ && state_ == State::Connected)
            emit settingsNotice({SettingsNotice::Kind::OptionRefused, asked, 0});
    } else if (state_ == State::Connected && settings_ && reader_.comPortAgreed()) {
        sendSettings();
    }
    if (attempt != attempt_ || state_ == State::Closed)
        return;
    checkConfirmedSpeed();
    if (attempt != attempt_ || state_ == State::Closed)
        return;
    if (!data.isEmpty()) {
        received_ += data;
        emit dataReady();
    }
    if (attempt == attempt_ && socket_ && socket_->bytesAvailable() > 0)
        nextPass_.start();
}

void NetworkLine::readRest() {
    // What the server sent before it went is the projector's all the same.
    const quint64 attempt = attempt_;
    while (attempt == attempt_ && socket_ && socket_->bytesAvailable() > 0)
        readPass();
}

void NetworkLine::onError(QAbstractSocket::SocketError error) {
    if (state_ == State::Closed)
        return;
    const quint64 attempt = attempt_;
    readRest();
    if (attempt != attempt_ || state_ == State::Closed)
        return;
    finish(state_ == State::Connected, causeOf(error, socket_->errorString()));
}

void NetworkLine::onDisconnected() {
    const quint64 attempt = attempt_;
    if (state_ != State::Closed)
        readRest();
    if (attempt == attempt_ && state_ != State::Closed)
        finish(state_ == State::Connected, QStringLiteral("the server closed the connection"));
}

}  // namespace mv70::serial
