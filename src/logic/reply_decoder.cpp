// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/reply_decoder.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "logic/controller_state.h"

namespace mv70 {
namespace {

struct CodeText {
    const char16_t *code;  // the first characters of the receive trace
    const char16_t *text;  // the STATUS line
};

// clang-format off
// "CR0": operating status.
constexpr CodeText kStatusTable[] = {
    {u" 0 0", u" Power ON"},
    {u" 8 0", u" Stand by"},
    {u" 4 0", u" Count down"},
    {u" 2 0", u" Cooling down"},
    {u" 1 0", u" Power Fail"},
    {u" 0 8", u" Temperature Warning"},
    {u" 0 2", u" NO Key input "},
    {u" 0 4", u" Lamp OFF by PWR Management"},
    {u" 2 8", u" Temperature Warning & cooling down"},
    {u" 2 4", u"Cooling down  PWR Management"},
    {u" 8 8", u" Temperature Warning and recoverd"},
    {u" 2 1", u" Cooling down (All Lamp FAIL)"},
    {u" 8 1", u" Cooling down & sutandby (All Lamp FAIL)"},
};

// "CR1": selected input.
constexpr CodeText kInputTable[] = {
    {u" 1", u" Computer 1"},
    {u" 2", u" Computer 2"},
    {u" 3", u" Video"},
    {u" 4", u" Input mode 4"},
};

// "CR4": picture reversal.
constexpr CodeText kReversalTable[] = {
    {u" 1 1", u" Normally"},
    {u" 1 0", u" Top/Bottom reversal"},
    {u" 0 1", u" Left/Right reversal"},
    {u" 0 0", u" Top/Bottom , Left/Right reversal"},
};

// "CRA": mute and signal.
constexpr CodeText kMuteTable[] = {
    {u" 0 0", u" Video & Audio mute OFF"},
    {u" 0 1", u" Video mute ON"},
    {u" 0 2", u" Audio mute ON"},
    {u" 0 3", u" Video & Audio mute ON"},
    {u" 8 0", u" No signal"},
    {u" F F", u" Stand by"},
};

// "CR7": lamp mode.
constexpr CodeText kLampModeTable[] = {
    {u" 0 0", u" All OFF : 2 Lamp mode"},
    {u" 0 1", u" No1 ON  : 2 Lamp mode"},
    {u" 0 2", u" No2 ON  : 2 Lamp mode"},
    {u" 0 3", u" No1,2 ON  : 2 Lamp mode"},
    {u" 1 0", u" All OFF : 1 Lamp mode(No1 USE)"},
    {u" 1 1", u" No1 ON  : 1 Lamp mode(No1 USE)"},
    {u" 2 0", u" All OFF : 1 Lamp mode(No2 USE)"},
    {u" 2 2", u" No2 ON  : 1 Lamp mode(No2 USE)"},
};

enum class ReadingKind { Tabled, LampTime, Temperatures, Unformatted, Pressure };

struct Query {
    const char16_t *text;
    const char *action;  // mv70-ctl's name for it
    ReadingKind kind;
    qsizetype codeLength;            // tabled readings only
    std::span<const CodeText> table;  // tabled readings only
};

// Tested in this order; at most one matches.
const Query kQueries[] = {
    {u"CR0", "status", ReadingKind::Tabled, 4, kStatusTable},
    {u"CR1", "input", ReadingKind::Tabled, 2, kInputTable},
    {u"CR4", "reversal", ReadingKind::Tabled, 4, kReversalTable},
    {u"CR3", "lamp-time", ReadingKind::LampTime, 0, {}},
    {u"CR6", "temperatures", ReadingKind::Temperatures, 0, {}},
    {u"CRA", "mute", ReadingKind::Tabled, 4, kMuteTable},
    {u"CR9", "info", ReadingKind::Unformatted, 0, {}},
    {u"CR PRESSURE", "pressure", ReadingKind::Pressure, 0, {}},
    {u"CR7", "lamp-mode", ReadingKind::Tabled, 4, kLampModeTable},
};
// clang-format on

bool matchesKey(QStringView lastCommand, QStringView prefix, QStringView query) {
    // The key is the prefix, the query and one carriage return, compared exactly.
    return lastCommand.size() == prefix.size() + query.size() + 1 && lastCommand.startsWith(prefix)
        && lastCommand.sliced(prefix.size()).startsWith(query) && lastCommand.back() == kCR;
}

// Positions counted from 1; a range past the end is cut at the end.
QStringView positions(QStringView trace, qsizetype first, qsizetype last) {
    if (first > trace.size())
        return {};
    return trace.sliced(first - 1, std::min(last, trace.size()) - first + 1);
}

Reading status(QString text) { return {Reading::Outcome::Status, std::move(text)}; }

Reading tabled(QStringView trace, const Query &query) {
    const QStringView code = trace.left(query.codeLength);
    for (const CodeText &row : query.table)
        if (code == QStringView(row.code))
            return status(QString::fromUtf16(row.text));
    return {};
}

Reading temperatures(QStringView trace) {
    QString text = QStringLiteral("  S1=");
    text += positions(trace, 1, 10);
    text += QStringLiteral(" C  ,   S2= ");
    text += positions(trace, 15, 22);
    text += QStringLiteral(" C , S3=");
    text += positions(trace, 25, 34);
    text += QStringLiteral(" C");
    return status(std::move(text));
}

// Round to the nearest integer, a half to the even neighbour; nullopt when
// the result does not fit a signed 16-bit value.
std::optional<qint16> roundToInt16(double value) {
    const double rounded = std::nearbyint(value);  // default rounding: half to even
    if (!(rounded >= std::numeric_limits<qint16>::min() && rounded <= std::numeric_limits<qint16>::max()))
        return std::nullopt;
    return static_cast<qint16>(rounded);
}

Reading pressure(QStringView trace, qint16 &pressureValue) {
    const std::optional<qint16> reading = roundToInt16(readNumber(trace));
    if (!reading)
        return {Reading::Outcome::OutOfRange, kPressureOutOfRange};
    pressureValue = *reading;
    const int product = pressureValue * 5;  // in 16 bits, as the projector's reading is scaled
    if (product < std::numeric_limits<qint16>::min() || product > std::numeric_limits<qint16>::max())
        return {Reading::Outcome::OutOfRange, kPressureOutOfRange};
    const double hectopascals = (product / 1024.0 - 0.204) / 0.00459 + 150;
    pressureValue = *roundToInt16(hectopascals);  // within -6866 to 7077 for any admitted product
    return status(QString::number(pressureValue) + QStringLiteral(" hPa"));
}

}  // namespace

std::span<const QueryName> knownQueries() {
    static const auto names = [] {
        std::array<QueryName, std::size(kQueries)> table{};
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i] = {kQueries[i].text, kQueries[i].action};
        return table;
    }();
    return names;
}

double readNumber(QStringView text) {
    std::string number;
    bool signAllowed = true;
    bool pointSeen = false;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if (signAllowed && (c == u'+' || c == u'-')) {
            if (c == u'-')
                number += '-';
            signAllowed = false;
            continue;
        }
        signAllowed = false;
        if (c >= u'0' && c <= u'9') {
            number += static_cast<char>(c);
        } else if (c == u'.' && !pointSeen) {
            pointSeen = true;
            number += '.';
        } else {
            break;
        }
    }
    double value = 0;
    const char *begin = number.data();
    const char *end = begin + number.size();
    // No digits (an empty text, a lone sign or point) leaves the value at 0.
    // A number too large for a double comes back as out of range and stays
    // infinite, which the caller treats as overflow.
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc::result_out_of_range)
        value = number.starts_with('-') ? -HUGE_VAL : HUGE_VAL;
    return ptr == begin ? 0.0 : value;
}

bool isWholeReading(QStringView lastCommand, QStringView commandPrefix, QStringView trace) {
    for (const Query &query : kQueries)
        if (matchesKey(lastCommand, commandPrefix, query.text))
            return query.kind == ReadingKind::Tabled && tabled(trace, query).outcome != Reading::Outcome::NoMatch;
    return false;
}

Reading decodeReply(QStringView lastCommand, QStringView commandPrefix, QStringView trace, qint16 &pressureValue) {
    for (const Query &query : kQueries) {
        if (!matchesKey(lastCommand, commandPrefix, query.text))
            continue;
        switch (query.kind) {
        case ReadingKind::Tabled:
            return tabled(trace, query);
        case ReadingKind::LampTime:
            return status(trace.left(38).toString() + QStringLiteral(" Hour Use"));
        case ReadingKind::Temperatures:
            return temperatures(trace);
        case ReadingKind::Unformatted:
            return status(trace.toString());
        case ReadingKind::Pressure:
            return pressure(trace, pressureValue);
        }
    }
    return {};
}

}  // namespace mv70
