// SPDX-License-Identifier: GPL-3.0-or-later
// The line-settings parser on any text.

#include <cstdlib>
#include <variant>

#include "fuzz_input.h"
#include "logic/line_settings.h"

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void parse(const QString &text) {
    const auto parsed = mv70::serial::parseLineSettings(text);
    if (const auto *settings = std::get_if<mv70::serial::LineSettings>(&parsed)) {
        check(settings->baudRate > 0);
        check(settings->dataBits >= 5 && settings->dataBits <= 8);
    } else {
        check(!std::get<QString>(parsed).isEmpty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    parse(mv70::fuzz::fromLine(data, size));
    parse(mv70::fuzz::anyText(data, size));
    return 0;
}
