// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/topics.h"

#include <QUrl>

#include <array>
#include <string_view>

#include "logic/operations.h"
#include "logic/reply_decoder.h"

namespace mv70::mqtt {
namespace {

using bridge::Power;
using bridge::ProjectorState;
using bridge::Source;

QByteArray onOff(bool on) { return on ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF"); }

std::optional<QByteArray> onOff(const std::optional<bool> &on) {
    if (!on)
        return std::nullopt;
    return onOff(*on);
}

// A reading as the panel's STATUS line shows it, without its blanks around.
std::optional<QByteArray> shown(const QString &line) {
    const QString text = line.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text.toUtf8();
}

template <typename T>
std::optional<QByteArray> shown(const std::optional<T> &reading) {
    if (!reading)
        return std::nullopt;
    return shown(statusLine(*reading));
}

std::optional<QByteArray> temperature(const ProjectorState &state, int sensor) {
    const std::optional<double> &celsius = state.temperatures[static_cast<std::size_t>(sensor)];
    if (!celsius)
        return std::nullopt;
    return QByteArray::number(*celsius, 'f', 1);
}

// A reading of the state and the text its topic carries.
struct StateTopic {
    const char *key;
    std::optional<QByteArray> (*payload)(const ProjectorState &);
};

// clang-format off
const std::array kStateTopics = {
    StateTopic{"power", [](const ProjectorState &s) -> std::optional<QByteArray> {
        switch (s.power) {
        case Power::WarmingUp: case Power::On: return onOff(true);
        case Power::Standby: case Power::CoolingDown: return onOff(false);
        case Power::Unknown: break;
        }
        return std::nullopt; }},
    StateTopic{"power_state", [](const ProjectorState &s) -> std::optional<QByteArray> {
        switch (s.power) {
        case Power::Standby: return QByteArrayLiteral("off");
        case Power::WarmingUp: return QByteArrayLiteral("warming up");
        case Power::On: return QByteArrayLiteral("on");
        case Power::CoolingDown: return QByteArrayLiteral("cooling down");
        case Power::Unknown: break;
        }
        return std::nullopt; }},
    StateTopic{"input", [](const ProjectorState &s) -> std::optional<QByteArray> {
        switch (s.input) {
        case Source::Computer1: return QByteArrayLiteral("PC1");
        case Source::Computer2: return QByteArrayLiteral("PC2");
        case Source::Video: return QByteArrayLiteral("Video");
        case Source::Input4: case Source::Unknown: break;
        }
        return std::nullopt; }},
    StateTopic{"picture_mute",        [](const ProjectorState &s) { return onOff(s.pictureMute); }},
    StateTopic{"sound_mute",          [](const ProjectorState &s) { return onOff(s.soundMute); }},
    StateTopic{"freeze",              [](const ProjectorState &s) { return onOff(s.freeze); }},
    StateTopic{"status",              [](const ProjectorState &s) -> std::optional<QByteArray> {
        if (s.power == Power::Unknown) return std::nullopt;
        return shown(statusLine(s.operatingStatus())); }},
    StateTopic{"lamp_hours",          [](const ProjectorState &s) -> std::optional<QByteArray> {
        if (!s.lampHours) return std::nullopt;
        return QByteArray::number(*s.lampHours); }},
    StateTopic{"temperature_1",       [](const ProjectorState &s) { return temperature(s, 0); }},
    StateTopic{"temperature_2",       [](const ProjectorState &s) { return temperature(s, 1); }},
    StateTopic{"temperature_3",       [](const ProjectorState &s) { return temperature(s, 2); }},
    StateTopic{"lamp_failure",        [](const ProjectorState &s) -> std::optional<QByteArray> {
        if (s.power == Power::Unknown) return std::nullopt;
        return onOff(s.lampFailure); }},
    StateTopic{"temperature_warning", [](const ProjectorState &s) -> std::optional<QByteArray> {
        if (s.power == Power::Unknown) return std::nullopt;
        return onOff(s.temperatureWarning); }},
    StateTopic{"lamp_mode",           [](const ProjectorState &s) { return shown(s.lampMode); }},
    StateTopic{"reversal",            [](const ProjectorState &s) { return shown(s.reversal); }},
    StateTopic{"pressure",            [](const ProjectorState &s) -> std::optional<QByteArray> {
        if (!s.pressureHpa) return std::nullopt;
        return QByteArray::number(*s.pressureHpa); }},
};

// A command topic's payload and the operation it asks for.
struct CommandRow {
    std::string_view key;
    std::string_view payload;
    Operation operation;
};

const std::array kCommandRows = {
    CommandRow{"power",        "ON",    Operation::PowerOn},
    CommandRow{"power",        "OFF",   Operation::PowerOff},
    CommandRow{"input",        "PC1",   Operation::InputPc1},
    CommandRow{"input",        "PC2",   Operation::InputPc2},
    CommandRow{"input",        "Video", Operation::InputVideo},
    CommandRow{"picture_mute", "ON",    Operation::PictureMuteOn},
    CommandRow{"picture_mute", "OFF",   Operation::PictureMuteOff},
    CommandRow{"sound_mute",   "ON",    Operation::SoundMuteOn},
    CommandRow{"sound_mute",   "OFF",   Operation::SoundMuteOff},
    CommandRow{"freeze",       "ON",    Operation::FreezeOn},
    CommandRow{"freeze",       "OFF",   Operation::FreezeOff},
    CommandRow{"volume_up",    "PRESS", Operation::VolumeUp},
    CommandRow{"volume_down",  "PRESS", Operation::VolumeDown},
};
// clang-format on

QString fromView(std::string_view view) {
    return QString::fromLatin1(view.data(), static_cast<qsizetype>(view.size()));
}

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

QByteArray trimmedAscii(const QByteArray &bytes) {
    qsizetype from = 0, to = bytes.size();
    while (from < to && isAsciiSpace(bytes[from]))
        ++from;
    while (to > from && isAsciiSpace(bytes[to - 1]))
        --to;
    return bytes.sliced(from, to - from);
}

}  // namespace

QString topicName(const QString &name) {
    QString result;
    for (const QChar c : name) {
        const bool kept =
            (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
        result += kept ? c : QChar(u'_');
    }
    return result.isEmpty() ? QStringLiteral("projector") : result.left(64);
}

Topics::Topics(const QString &prefix, const QString &projectorName)
    : name_(topicName(projectorName)), base_(prefix + u'/' + name_) {}

QString Topics::state(const QString &key) const { return base_ + u'/' + key; }
QString Topics::command(const QString &key) const { return base_ + u'/' + key + QStringLiteral("/set"); }
QString Topics::bridgeAvailability() const { return state(QStringLiteral("bridge")); }
QString Topics::lineAvailability() const { return state(QStringLiteral("line")); }

QString Topics::commandKey(const QString &topic) const {
    const QString head = base_ + u'/';
    const QString tail = QStringLiteral("/set");
    if (!topic.startsWith(head) || !topic.endsWith(tail) || topic.size() <= head.size() + tail.size())
        return {};
    const QString key = topic.sliced(head.size(), topic.size() - head.size() - tail.size());
    return key.contains(u'/') ? QString() : key;
}

QList<StatePayload> statePayloads(const ProjectorState &state) {
    QList<StatePayload> payloads;
    for (const StateTopic &topic : kStateTopics)
        if (std::optional<QByteArray> payload = topic.payload(state))
            payloads.append({QString::fromLatin1(topic.key), *payload});
    return payloads;
}

QByteArray lineAvailability(const ProjectorState &state) { return state.lineUp ? kOnline : kOffline; }

QStringList commandKeys() {
    QStringList keys;
    for (const CommandRow &row : kCommandRows)
        if (!keys.contains(fromView(row.key)))
            keys << fromView(row.key);
    return keys;
}

QStringList acceptedPayloads(const QString &key) {
    QStringList payloads;
    for (const CommandRow &row : kCommandRows)
        if (fromView(row.key) == key)
            payloads << fromView(row.payload);
    return payloads;
}

CommandRequest commandFor(const QString &key, const QByteArray &payload, const ProjectorState &state) {
    if (payload.size() > kMaxCommandPayload)
        return Refusal{QStringLiteral("a payload of %1 bytes on %2/set is too long (at most %3)")
                           .arg(payload.size())
                           .arg(printable(key.toUtf8()))
                           .arg(kMaxCommandPayload)};
    const QStringList accepted = acceptedPayloads(key);
    if (accepted.isEmpty())
        return Refusal{QStringLiteral("%1/set is not a command topic (they are: %2)")
                           .arg(printable(key.toUtf8()), commandKeys().join(QStringLiteral(", ")))};
    // Exact words as Home Assistant sends them; blanks around them and the
    // case are forgiven, for people typing into a client by hand.
    const QByteArray words = trimmedAscii(payload);
    for (const CommandRow &row : kCommandRows) {
        if (fromView(row.key) != key
            || words.compare(QByteArrayView(row.payload.data(), static_cast<qsizetype>(row.payload.size())),
                             Qt::CaseInsensitive)
                   != 0)
            continue;
        const OperationRow &operation = operationRow(row.operation);
        if (!possibleNow(operation, state.power))
            return Refusal{QStringLiteral("%1/set %2 is not possible now: the projector is %3")
                               .arg(key, fromView(row.payload), powerWords(state.power))};
        return QStringView(operation.code).toString();
    }
    return Refusal{QStringLiteral("\"%1\" on %2/set is not understood (expected %3)")
                       .arg(printable(payload), key, accepted.join(QStringLiteral(" or ")))};
}

QString printable(const QByteArray &bytes, qsizetype limit) {
    QString result;
    const qsizetype shown = qMin(bytes.size(), limit);
    for (qsizetype i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\')
            result += QChar(c);
        else
            result += QStringLiteral("\\x%1").arg(c, 2, 16, QChar(u'0'));
    }
    if (bytes.size() > limit)
        result += QStringLiteral("...");
    return result;
}

namespace {

// A broker address for a message: never with a password in it.
QString shownUrl(const QString &url) {
    if (url.contains(u'@'))
        return QStringLiteral("(not shown: it holds a user name or password)");
    return u'"' + printable(url.toUtf8(), 80) + u'"';
}

}  // namespace

std::variant<BrokerAddress, QString> parseBrokerUrl(const QString &url) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != u"mqtt" && scheme != u"mqtts"))
        return QStringLiteral("the broker must be given as mqtt://HOST:PORT or mqtts://HOST:PORT, not %1")
            .arg(shownUrl(url));
    if (parsed.host().isEmpty())
        return QStringLiteral("the broker address %1 names no host").arg(shownUrl(url));
    if ((!parsed.path().isEmpty() && parsed.path() != u"/") || parsed.hasQuery() || parsed.hasFragment()
        || !parsed.userInfo().isEmpty())
        return QStringLiteral("the broker address %1 has more than a host and a port (the user and password "
                              "are options of their own)")
            .arg(shownUrl(url));
    BrokerAddress address;
    address.tls = scheme == u"mqtts";
    address.host = parsed.host();
    const int defaultPort = address.tls ? 8883 : 1883;
    const int port = parsed.port(defaultPort);
    if (port < 1 || port > 65535)
        return QStringLiteral("the broker's port must be from 1 to 65535");
    address.port = static_cast<quint16>(port);
    return address;
}

}  // namespace mv70::mqtt
