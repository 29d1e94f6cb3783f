// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a reply to one of the known queries into its value (logic/reading.h)
// and renders the STATUS line's text from it. The query is known only from
// the last command sent.

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <span>

#include "logic/queries.h"
#include "logic/reading.h"

namespace mv70 {

struct Reading {
    enum class Outcome {
        NoMatch,     // not a reply to a known query, or no code matched: STATUS unchanged
        Status,      // text is the new STATUS line
        OutOfRange,  // the pressure reading overflowed: text says so
    };
    Outcome outcome = Outcome::NoMatch;
    QString text;        // the STATUS line, rendered from value
    ReadingValue value;  // what the reply means; none for no match
    // All that the reading needs has come: a tabled reading (status, input,
    // ...) whose code has matched, or any reading whose reply has its
    // carriage return. Before, the next characters may change it.
    bool whole = false;
};

// `received` is what arrived since the command, `trace` its receive trace
// as the RXD line shows it. The tabled readings are read from the trace's
// first characters; lamp time, temperatures and information show the trace
// on the STATUS line and take their values from the received characters.
// `pressureValue` is the exchange's work value; only the pressure reading
// writes it.
Reading decodeReply(QStringView lastCommand, QStringView commandPrefix, QStringView received, QStringView trace,
                    qint16 &pressureValue);

// The STATUS line of each tabled reading, from its value; empty for a value
// that no reply gives.
QString statusLine(const OperatingStatus &status);
QString statusLine(Source input);
QString statusLine(Reversal reversal);
QString statusLine(const MuteStatus &mute);
QString statusLine(const LampMode &mode);

// The pressure reading's number: blanks, tabs and line feeds are skipped
// wherever they stand; then an optional sign, digits and an optional
// fraction. Stops at the first character that cannot continue the number;
// no digits gives 0.
double readNumber(QStringView text);

// The queries the decoder reads, in the order it tries them, each with the
// name mv70-ctl gives it.
std::span<const QueryName> knownQueries();

inline const QString kPressureOutOfRange = QStringLiteral(" PRESSURE reading out of range (-6553 to 6553)");

}  // namespace mv70
