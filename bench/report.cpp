// SPDX-License-Identifier: GPL-3.0-or-later
#include "report.h"

#include <cstdio>

namespace bench {

QTextStream out(stdout);

namespace {
bool failed = false;
}  // namespace

QString mib(long kb) { return QString::number(static_cast<double>(kb) / 1024.0, 'f', 1); }

void goal(const QString &id, const QString &target, const QString &measured, bool met) {
    out << "GOAL|" << id << '|' << target << '|' << measured << '|' << (met ? "met" : "**missed**") << '\n';
}

void check(bool condition, const QString &what) {
    if (!condition) {
        out << "\n**Harness check failed:** " << what << "\n";
        failed = true;
    }
}

bool checksFailed() { return failed; }

}  // namespace bench
