// SPDX-License-Identifier: GPL-3.0-or-later
// The trace of any text: what the TXD and RXD lines show.

#include <cstdlib>

#include "fuzz_input.h"
#include "logic/trace.h"

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkTrace(const QString &text) {
    const QString trace = mv70::renderTrace(text);
    check(trace.startsWith(u' '));
    // One to four characters per character of the text.
    check(trace.size() >= 1 + text.size() && trace.size() <= 1 + 4 * text.size());
    // Only printable ASCII ever reaches the monitor lines.
    for (QChar c : trace)
        check(c.unicode() >= 0x20 && c.unicode() <= 0x7A);
    // A text split anywhere renders as its two halves joined.
    const qsizetype half = text.size() / 2;
    QString joined = mv70::renderTrace(QStringView(text).left(half));
    joined += QStringView(mv70::renderTrace(QStringView(text).sliced(half))).sliced(1);
    check(trace == joined);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    checkTrace(mv70::fuzz::fromLine(data, size));
    checkTrace(mv70::fuzz::anyText(data, size));
    return 0;
}
