// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The benchmark's report: Markdown on standard output, one "GOAL|" line per
// goal for the summary (id|goal|measured|verdict), and the harness's own
// checks, which fail the run without saying anything about a time.

#include <QString>
#include <QTextStream>

namespace bench {

// The report, on standard output.
extern QTextStream out;

constexpr double kNsPerMs = 1e6;
// One byte on the line at 8N1: ten bits.
constexpr double kByteMs19200 = 10.0 / 19200 * 1000;

// Kibibytes as mebibytes, "12.3".
QString mib(long kb);
void goal(const QString &id, const QString &target, const QString &measured, bool met);
// A check of the harness itself: a command or reply that did not go where it should.
void check(bool condition, const QString &what);
// Whether any check failed.
bool checksFailed();

}  // namespace bench
