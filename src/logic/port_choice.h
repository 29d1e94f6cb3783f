// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The port panel's choices: which port each option opens, where a failed
// choice falls back to, and the settings each speed option writes.

#include <array>
#include <string_view>

namespace mv70::serial {

struct PortChoice {
    std::string_view control;
    int port;
    int fallback;  // written after a failed choice: always the other port
};
inline constexpr std::array kPortChoices = {
    PortChoice{"Option1", 1, 2},  // COM1
    PortChoice{"Option2", 2, 1},  // COM2
};

struct SpeedChoice {
    std::string_view control;
    const char *settings;
};
inline constexpr std::array kSpeedChoices = {
    SpeedChoice{"Option9", "19200,N,8,1"},
    SpeedChoice{"Option10", "9600,N,8,1"},
};

inline constexpr int kStartPort = 1;
inline constexpr const char *kStartSettings = "19200,N,8,1";

}  // namespace mv70::serial
