// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/reply_decoder.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "logic/command_text.h"

namespace mv70 {
namespace {

// One row of a code table: the reply's code, the STATUS line that shows it
// and what it means. Every table is read both ways: by code when a reply
// comes, by meaning when a value is shown.
template <typename Meaning>
struct CodeRow {
    std::u16string_view code;  // the first characters of the receive trace
    std::u16string_view text;  // the STATUS line
    Meaning meaning;
};

using P = Power;

// clang-format off
// The status query: operating status.
constexpr CodeRow<OperatingStatus> kStatusRows[] = {
    {u" 0 0", u" Power ON",                                {P::On}},
    {u" 8 0", u" Stand by",                                {P::Standby}},
    {u" 4 0", u" Count down",                              {P::WarmingUp}},
    {u" 2 0", u" Cooling down",                            {P::CoolingDown}},
    {u" 1 0", u" Power Fail",                              {.power = P::Standby, .powerFailure = true}},
    {u" 0 8", u" Temperature Warning",                     {.power = P::On, .temperatureWarning = true}},
    {u" 0 2", u" NO Key input ",                           {.power = P::On, .keyInputOff = true}},
    {u" 0 4", u" Lamp OFF by PWR Management",              {.power = P::Standby, .powerManagement = true}},
    {u" 2 8", u" Temperature Warning & cooling down",      {.power = P::CoolingDown, .temperatureWarning = true}},
    {u" 2 4", u"Cooling down  PWR Management",             {.power = P::CoolingDown, .powerManagement = true}},
    {u" 8 8", u" Temperature Warning and recoverd",        {.power = P::Standby, .temperatureWarning = true}},
    {u" 2 1", u" Cooling down (All Lamp FAIL)",            {.power = P::CoolingDown, .lampFailure = true}},
    {u" 8 1", u" Cooling down & sutandby (All Lamp FAIL)", {.power = P::Standby, .lampFailure = true}},
};

// The input query: selected input.
constexpr CodeRow<Source> kInputRows[] = {
    {u" 1", u" Computer 1",   Source::Computer1},
    {u" 2", u" Computer 2",   Source::Computer2},
    {u" 3", u" Video",        Source::Video},
    {u" 4", u" Input mode 4", Source::Input4},
};

// The reversal query: picture reversal.
constexpr CodeRow<Reversal> kReversalRows[] = {
    {u" 1 1", u" Normally",                          Reversal::None},
    {u" 1 0", u" Top/Bottom reversal",               Reversal::TopBottom},
    {u" 0 1", u" Left/Right reversal",               Reversal::LeftRight},
    {u" 0 0", u" Top/Bottom , Left/Right reversal",  Reversal::Both},
};

// The mute query: mute and signal.
constexpr CodeRow<MuteStatus> kMuteRows[] = {
    {u" 0 0", u" Video & Audio mute OFF", {false, false, false}},
    {u" 0 1", u" Video mute ON",          {true,  false, false}},
    {u" 0 2", u" Audio mute ON",          {false, true,  false}},
    {u" 0 3", u" Video & Audio mute ON",  {true,  true,  false}},
    {u" 8 0", u" No signal",              {{},    {},    true}},
    {u" F F", u" Stand by",               {{},    {},    {}}},
};

// The lamp mode query: lamps in use and lit.
using Use = LampMode::Use;
constexpr CodeRow<LampMode> kLampModeRows[] = {
    {u" 0 0", u" All OFF : 2 Lamp mode",           {Use::Both,  false, false}},
    {u" 0 1", u" No1 ON  : 2 Lamp mode",           {Use::Both,  true,  false}},
    {u" 0 2", u" No2 ON  : 2 Lamp mode",           {Use::Both,  false, true}},
    {u" 0 3", u" No1,2 ON  : 2 Lamp mode",         {Use::Both,  true,  true}},
    {u" 1 0", u" All OFF : 1 Lamp mode(No1 USE)",  {Use::Lamp1, false, false}},
    {u" 1 1", u" No1 ON  : 1 Lamp mode(No1 USE)",  {Use::Lamp1, true,  false}},
    {u" 2 0", u" All OFF : 1 Lamp mode(No2 USE)",  {Use::Lamp2, false, false}},
    {u" 2 2", u" No2 ON  : 1 Lamp mode(No2 USE)",  {Use::Lamp2, false, true}},
};
// clang-format on

// A table is read both ways only if its codes and its meanings are each
// given once, and its codes are all as long.
template <typename Meaning, std::size_t N>
constexpr bool readsBothWays(const CodeRow<Meaning> (&rows)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        if (rows[i].code.size() != rows[0].code.size())
            return false;
        for (std::size_t j = 0; j < i; ++j)
            if (rows[i].code == rows[j].code || rows[i].meaning == rows[j].meaning)
                return false;
    }
    return true;
}
static_assert(readsBothWays(kStatusRows) && readsBothWays(kInputRows) && readsBothWays(kReversalRows)
              && readsBothWays(kMuteRows) && readsBothWays(kLampModeRows));

// The rows' texts live as long as the program: shown without a copy.
QString staticText(std::u16string_view text) {
    return QString::fromRawData(reinterpret_cast<const QChar *>(text.data()), qsizetype(text.size()));
}

template <typename Meaning, std::size_t N>
QString textOf(const CodeRow<Meaning> (&rows)[N], const Meaning &meaning) {
    for (const CodeRow<Meaning> &row : rows)
        if (row.meaning == meaning)
            return staticText(row.text);
    return {};
}

bool matchesKey(QStringView lastCommand, QStringView prefix, std::u16string_view query) {
    // The key is the prefix, the query and one carriage return, compared exactly.
    return lastCommand.size() == prefix.size() + qsizetype(query.size()) + 1 && lastCommand.startsWith(prefix)
        && lastCommand.sliced(prefix.size()).startsWith(QStringView(query)) && lastCommand.back() == kCR;
}

// Positions counted from 1; a range past the end is cut at the end.
QStringView positions(QStringView trace, qsizetype first, qsizetype last) {
    if (first > trace.size())
        return {};
    return trace.sliced(first - 1, std::min(last, trace.size()) - first + 1);
}

QString temperaturesLine(QStringView trace) {
    QString text = QStringLiteral("  S1=");
    text += positions(trace, 1, 10);
    text += QStringLiteral(" C  ,   S2= ");
    text += positions(trace, 15, 22);
    text += QStringLiteral(" C , S3=");
    text += positions(trace, 25, 34);
    text += QStringLiteral(" C");
    return text;
}

// The STATUS line of a reading: the tabled ones and the pressure from their
// value alone; lamp time, temperatures and information show the trace.
QString render(const ReadingValue &value, QStringView trace) {
    return std::visit(Overloaded{
                          [](std::monostate) { return QString(); },
                          [](const OperatingStatus &status) { return statusLine(status); },
                          [](Source input) { return statusLine(input); },
                          [](Reversal reversal) { return statusLine(reversal); },
                          [](const MuteStatus &mute) { return statusLine(mute); },
                          [](const LampMode &mode) { return statusLine(mode); },
                          [&](const LampTime &) { return trace.left(38).toString() + QStringLiteral(" Hour Use"); },
                          [&](const Temperatures &) { return temperaturesLine(trace); },
                          [&](const Info &) { return trace.toString(); },
                          [](const Pressure &pressure) {
                              return pressure.hectopascals
                                       ? QString::number(*pressure.hectopascals) + QStringLiteral(" hPa")
                                       : kPressureOutOfRange;
                          },
                      },
                      value);
}

Reading reading(ReadingValue value, QStringView trace, bool whole) {
    const bool outOfRange = std::holds_alternative<Pressure>(value) && !std::get<Pressure>(value).hectopascals;
    QString text = render(value, trace);
    return {outOfRange ? Reading::Outcome::OutOfRange : Reading::Outcome::Status, std::move(text), std::move(value),
            whole};
}

template <typename Meaning, std::size_t N>
Reading tabled(QStringView trace, const CodeRow<Meaning> (&rows)[N]) {
    const QStringView code = trace.left(qsizetype(rows[0].code.size()));
    for (const CodeRow<Meaning> &row : rows)
        if (code == QStringView(row.code))
            return reading(row.meaning, trace, true);
    return {};
}

bool isBlank(QChar c) { return c == u' '; }

QStringView withoutBlanks(QStringView text) {
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

// "1234" with blanks around it, at most nine digits.
std::optional<int> hoursIn(QStringView reply) {
    const QStringView digits = withoutBlanks(reply);
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    for (QChar c : digits)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    return digits.toInt();
}

// "-12.5" with blanks around it: a sign, digits, a point and digits.
std::optional<double> decimalIn(QStringView field) {
    const QStringView number = withoutBlanks(field);
    qsizetype i = number.startsWith(u'-') ? 1 : 0;
    qsizetype digits = 0;
    bool point = false;
    for (; i < number.size(); ++i) {
        const QChar c = number[i];
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (c == u'.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    return number.toDouble();
}

// The temperature reply: three fields of five characters, a comma between
// them (" 35.0, 48.0, 41.0"). A field cut short is no temperature.
Temperatures temperaturesIn(QStringView reply) {
    constexpr qsizetype kField = 5;
    Temperatures value;
    for (qsizetype sensor = 0; sensor < qsizetype(value.celsius.size()); ++sensor) {
        const qsizetype from = sensor * (kField + 1);
        if (reply.size() < from + kField || (sensor > 0 && reply[from - 1] != u','))
            break;
        value.celsius[std::size_t(sensor)] = decimalIn(reply.sliced(from, kField));
    }
    return value;
}

// Round to the nearest integer, a half to the even neighbour; nullopt when
// the result does not fit a signed 16-bit value.
std::optional<qint16> roundToInt16(double value) {
    const double rounded = std::nearbyint(value);  // default rounding: half to even
    if (!(rounded >= std::numeric_limits<qint16>::min() && rounded <= std::numeric_limits<qint16>::max()))
        return std::nullopt;
    return static_cast<qint16>(rounded);
}

Pressure pressureIn(QStringView trace, qint16 &pressureValue) {
    const std::optional<qint16> raw = roundToInt16(readNumber(trace));
    if (!raw)
        return {};
    pressureValue = *raw;
    const int product = pressureValue * 5;  // in 16 bits, as the projector's reading is scaled
    if (product < std::numeric_limits<qint16>::min() || product > std::numeric_limits<qint16>::max())
        return {};
    const double hectopascals = (product / 1024.0 - 0.204) / 0.00459 + 150;
    pressureValue = *roundToInt16(hectopascals);  // within -6866 to 7077 for any admitted product
    return {pressureValue};
}

}  // namespace

QString statusLine(const OperatingStatus &status) { return textOf(kStatusRows, status); }
QString statusLine(Source input) { return textOf(kInputRows, input); }
QString statusLine(Reversal reversal) { return textOf(kReversalRows, reversal); }
QString statusLine(const MuteStatus &mute) { return textOf(kMuteRows, mute); }
QString statusLine(const LampMode &mode) { return textOf(kLampModeRows, mode); }

QString powerWords(Power power) {
    switch (power) {
    case Power::Standby:
        return QStringLiteral("in standby");
    case Power::WarmingUp:
        return QStringLiteral("warming up");
    case Power::On:
        return QStringLiteral("on");
    case Power::CoolingDown:
        return QStringLiteral("cooling down");
    case Power::Unknown:
        break;
    }
    return QStringLiteral("in a state not known");
}

std::span<const QueryName> knownQueries() { return kQueryNames; }

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

Reading decodeReply(QStringView lastCommand, QStringView commandPrefix, QStringView received, QStringView trace,
                    qint16 &pressureValue) {
    for (const QueryName &query : kQueryNames) {
        if (!matchesKey(lastCommand, commandPrefix, query.code))
            continue;
        // The reply proper: what came before its carriage return.
        const qsizetype end = received.indexOf(kCR);
        const bool ended = end >= 0;
        const QStringView reply = ended ? received.first(end) : received;
        switch (query.query) {
        case Query::Status:
            return tabled(trace, kStatusRows);
        case Query::Input:
            return tabled(trace, kInputRows);
        case Query::Reversal:
            return tabled(trace, kReversalRows);
        case Query::Mute:
            return tabled(trace, kMuteRows);
        case Query::LampMode:
            return tabled(trace, kLampModeRows);
        case Query::LampTime:
            return reading(LampTime{hoursIn(reply)}, trace, ended);
        case Query::Temperatures:
            return reading(temperaturesIn(reply), trace, ended);
        case Query::Info:
            // The text is copied once the reply has ended: a line that talks
            // without end costs no copy per piece.
            return reading(Info{ended ? reply.toString() : QString()}, trace, ended);
        case Query::Pressure:
            return reading(pressureIn(trace, pressureValue), trace, ended);
        }
    }
    return {};
}

}  // namespace mv70
