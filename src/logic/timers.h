// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's four timers as designed: their names and the intervals they
// start with. Several handlers return a timer to its start interval, so the
// values they restore are read from here.

#include <array>
#include <string_view>

namespace mv70 {

struct TimerSpec {
    std::string_view name;
    int interval;  // ms, as stored; all are off at start
};
inline constexpr std::array kTimers = {
    TimerSpec{"Timer1", 200},   // repeat of a held button
    TimerSpec{"Timer2", 500},   // reply window
    TimerSpec{"Timer3", 5000},  // hides the port panel
    TimerSpec{"Timer4", 1000},  // display hold
};

// The start interval of the timer named `name`; a name not in the table
// does not compile where it is used as a constant.
constexpr int startInterval(std::string_view name) {
    for (const TimerSpec &timer : kTimers)
        if (timer.name == name)
            return timer.interval;
    throw "no such timer";
}

}  // namespace mv70
