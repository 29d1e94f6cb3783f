// SPDX-License-Identifier: GPL-3.0-or-later
// What arrives on the MQTT command topics: any topic, any payload. The
// answer is a command of the table or a refusal that a log can show as it
// is: printable, bounded, never the payload's raw bytes.

#include <cstdlib>

#include "fuzz_input.h"
#include "mqtt/topics.h"

namespace {

using namespace mv70::mqtt;

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool printableAscii(const QString &text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    // The first byte picks the topic: one of ours, or the next bytes up to a
    // NUL as a topic of any kind; the rest is the payload.
    static const QStringList keys = commandKeys();
    static const Topics topics(QStringLiteral("mv70"), QStringLiteral("fuzz"));
    const QByteArrayView input(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size - 1));
    QString key;
    QByteArray payload;
    if (data[0] < keys.size()) {
        key = keys[data[0]];
        payload = input.toByteArray();
    } else {
        const qsizetype end = input.indexOf('\0');
        const QByteArrayView topic = end < 0 ? input : input.first(end);
        key = topics.commandKey(QString::fromUtf8(topic));
        check(!key.contains(u'/'));
        payload = end < 0 ? QByteArray() : input.sliced(end + 1).toByteArray();
        check(topicName(QString::fromUtf8(topic)).size() <= 64);
        check(printableAscii(topicName(mv70::fuzz::fromLine(data, size))));
    }

    const CommandRequest request = commandFor(key, payload);
    if (const auto *code = std::get_if<QString>(&request)) {
        // Only a payload the topic accepts, and only a command of the table.
        check(acceptedPayloads(key).contains(QString::fromLatin1(payload.trimmed()), Qt::CaseInsensitive));
        check(code->startsWith(u'C') && code->size() <= 25);
    } else {
        const QString &reason = std::get<Refusal>(request).reason;
        check(printableAscii(reason));
        check(reason.size() < 600);
    }
    return 0;
}
