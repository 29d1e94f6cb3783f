// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether assistive technology listened to a run of the benchmark, and what
// the monitor lines told it: bench/with_a11y_client.sh attaches a client.

#include <QString>

#include <cstdint>

namespace mv70 {
class Form1;
}

namespace bench {

// ", accessibility client attached" while a client listens; empty otherwise.
QString accessibilitySuffix();

// One sentence for the report: who listened, and how many name-changed
// events the TXD, RXD and STATUS lines raised against `frames` painted.
QString accessibilityNote(const mv70::Form1 &form, std::uint64_t frames);

}  // namespace bench
