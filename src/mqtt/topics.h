// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bridge's MQTT face as data: where each reading of a projector is
// published, which command topics it listens on and what they send to the
// line. No network here: the bridge hands these texts to its MQTT client.
//
// Under one prefix per projector (mv70/NAME):
//   bridge, line                  availability: "online" / "offline" (retained)
//   power, input, ...             state topics (retained)
//   power/set, input/set, ...     command topics (never retained)

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

#include "logic/projector_state.h"

namespace mv70::mqtt {

inline const QByteArray kOnline = QByteArrayLiteral("online");
inline const QByteArray kOffline = QByteArrayLiteral("offline");

// A command payload longer than this is refused unread.
inline constexpr qsizetype kMaxCommandPayload = 64;

// A projector's name as it may stand in a topic and an identifier: letters,
// digits, '-' and '_' kept, anything else (the wildcards '+' and '#', '/',
// blanks, control characters) becomes '_'. Never empty.
QString topicName(const QString &name);

// The topics of one projector.
class Topics {
public:
    Topics(const QString &prefix, const QString &projectorName);

    QString base() const { return base_; }      // mv70/NAME
    QString name() const { return name_; }      // NAME as in topics
    QString state(const QString &key) const;    // mv70/NAME/key
    QString command(const QString &key) const;  // mv70/NAME/key/set
    QString bridgeAvailability() const;         // the last will's topic
    QString lineAvailability() const;           // the line to the projector
    QString commandFilter() const { return base_ + QStringLiteral("/+/set"); }
    // The key of a command topic (power for mv70/NAME/power/set), or empty
    // when the topic is none of ours.
    QString commandKey(const QString &topic) const;

private:
    QString name_;
    QString base_;
};

// One retained message: a state topic's key and its payload.
struct StatePayload {
    QString key;
    QByteArray payload;
    bool operator==(const StatePayload &) const = default;
};

// Every reading the state holds, as payloads for its state topics, in a fixed
// order. A reading the projector has not given is left out, so that a retained
// value is never overwritten by "unknown".
QList<StatePayload> statePayloads(const bridge::ProjectorState &state);

// The line's availability payload.
QByteArray lineAvailability(const bridge::ProjectorState &state);

// What a message on a command topic asks for: the projector's command code,
// or why it is refused (a sentence for the log, with the payload shown
// safely). A command the projector cannot do in the power state of `state`
// is refused as PJLink and mv70-ctl refuse it (logic/operations.h); an
// unknown power state allows everything.
struct Refusal {
    QString reason;
};
using CommandRequest = std::variant<QString, Refusal>;

CommandRequest commandFor(const QString &key, const QByteArray &payload, const bridge::ProjectorState &state = {});

// The payloads a command topic accepts, as Home Assistant sends them.
QStringList acceptedPayloads(const QString &key);

// Every command topic key, in table order.
QStringList commandKeys();

// Untrusted bytes for a log line: printable ASCII kept, anything else as
// \xNN, cut after `limit` bytes with an ellipsis.
QString printable(const QByteArray &bytes, qsizetype limit = 32);

// A broker address from mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
// (1883 and 8883 when no port is given).
struct BrokerAddress {
    QString host;
    quint16 port = 1883;
    bool tls = false;
};
std::variant<BrokerAddress, QString> parseBrokerUrl(const QString &url);

}  // namespace mv70::mqtt
