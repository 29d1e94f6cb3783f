// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads the receive trace of a reply to one of the known queries and turns
// it into the STATUS line's text. The query is known only from LastCommand.

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <span>
#include <string_view>

namespace mv70 {

struct Reading {
    enum class Outcome {
        NoMatch,     // not a reply to a known query, or no code matched: STATUS unchanged
        Status,      // text is the new STATUS line
        OutOfRange,  // the pressure reading overflowed: text says so
    };
    Outcome outcome = Outcome::NoMatch;
    QString text;
};

// `trace` is the receive trace as the RXD line shows it. `pressureValue` is
// the controller's work value; only the pressure reading writes it.
Reading decodeReply(QStringView lastCommand, QStringView commandPrefix, QStringView trace, qint16 &pressureValue);

// Whether the trace holds all that its reading needs without waiting for
// the carriage return: a tabled reading (status, input, ...) whose code has
// matched. The other readings take whatever has come, so only the end of
// the reply tells them whole.
bool isWholeReading(QStringView lastCommand, QStringView commandPrefix, QStringView trace);

// The pressure reading's number: blanks, tabs and line feeds are skipped
// wherever they stand; then an optional sign, digits and an optional
// fraction. Stops at the first character that cannot continue the number;
// no digits gives 0.
double readNumber(QStringView text);

// The queries the decoder reads, in the order it tries them, each with the
// name mv70-ctl gives it.
struct QueryName {
    std::u16string_view code;
    std::string_view action;
};
std::span<const QueryName> knownQueries();

inline const QString kPressureOutOfRange = QStringLiteral(" PRESSURE reading out of range (-6553 to 6553)");

}  // namespace mv70
