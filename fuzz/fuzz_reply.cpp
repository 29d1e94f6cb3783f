// SPDX-License-Identifier: GPL-3.0-or-later
// The reply decoder and its number reader on any reply, after any query.

#include <cmath>
#include <cstdlib>
#include <iterator>

#include "fuzz_input.h"
#include "logic/reply_decoder.h"
#include "logic/trace.h"

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// The known queries, one that is not, and one typed in the wrong case.
const char *const kCommands[] = {"CR0\r", "CR1\r",         "CR4\r", "CR3\r", "CR6\r",        "CRA\r",
                                 "CR9\r", "CR PRESSURE\r", "CR7\r", "C00\r", "cr pressure\r"};

void decode(const QString &command, QStringView received, QStringView trace) {
    qint16 pressure = 1234;
    const mv70::Reading reading = mv70::decodeReply(command, QString(), received, trace, pressure);
    // A reading has a value, and no reading none.
    check((reading.outcome == mv70::Reading::Outcome::NoMatch)
          == std::holds_alternative<std::monostate>(reading.value));
    if (reading.outcome == mv70::Reading::Outcome::NoMatch)
        check(reading.text.isEmpty());
    if (reading.outcome == mv70::Reading::Outcome::OutOfRange)
        check(reading.text == mv70::kPressureOutOfRange);
    if (command != u"CR PRESSURE\r") {
        check(pressure == 1234);  // only the pressure reading writes the work value
        check(reading.outcome != mv70::Reading::Outcome::OutOfRange);
    } else if (reading.outcome == mv70::Reading::Outcome::Status) {
        check(reading.text == QString::number(pressure) + QStringLiteral(" hPa"));
        check(pressure >= -6866 && pressure <= 7077);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const QString command = QString::fromLatin1(kCommands[data[0] % std::size(kCommands)]);
    const QString reply = mv70::fuzz::fromLine(data + 1, size - 1);
    // As the program meets it: the trace of what the line delivered.
    decode(command, reply, mv70::renderTrace(reply));
    // And any text at all in the trace's place.
    decode(command, reply, reply);
    decode(command, reply, mv70::fuzz::anyText(data + 1, size - 1));

    const double number = mv70::readNumber(reply);
    check(!std::isnan(number));
    return 0;
}
