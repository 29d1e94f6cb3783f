// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// mv70-control's command line: --com1/--com2 DEVICE, --list-ports, --help
// and --version.

#include <optional>

class QCoreApplication;

namespace mv70 {

// Before the window system is touched: answers --help, --version and
// --list-ports (they need no display) and returns the exit code then.
// Returns nothing when the window is to start.
std::optional<int> answerCommandLine(int argc, char *argv[]);

// Once the application exists (it has taken its own options away): checks
// the rest strictly, ending the program on a wrong option, and records
// --com1 and --com2.
void applyCommandLine(const QCoreApplication &app);

}  // namespace mv70
