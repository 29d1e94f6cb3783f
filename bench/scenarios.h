// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The benchmark's scenarios, each in a file of its own. Each writes its
// section of the report (report.h); harness.cpp lists them by name.

#include <QString>

namespace bench {

void pressToWire(int samples);                 // scenario_press.cpp
void repeatTiming(int seconds);                // scenario_repeat.cpp
void replyToScreen(int samples);               // scenario_reply.cpp
void costIdle(int seconds);                    // scenario_cost.cpp
void costHold(int seconds);                    // scenario_cost.cpp
void costStream(int seconds, bool dataBand);   // scenario_cost.cpp
void startup(const QString &probe, int runs);  // scenario_startup.cpp

}  // namespace bench
