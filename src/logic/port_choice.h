// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The port panel's choices: which port each port choice opens, where a
// failed choice falls back to, and the settings each speed choice writes.
// Which control makes which choice is the window's business.

#include <array>

namespace mv70::serial {

struct PortChoice {
    int port;
    int fallback;  // written after a failed choice: always the other port
};
inline constexpr std::array kPortChoices = {
    PortChoice{1, 2},  // COM1
    PortChoice{2, 1},  // COM2
};

struct SpeedChoice {
    const char *settings;
};
inline constexpr std::array kSpeedChoices = {
    SpeedChoice{"19200,N,8,1"},
    SpeedChoice{"9600,N,8,1"},
};

inline constexpr int kStartPort = 1;
inline constexpr const char *kStartSettings = "19200,N,8,1";

}  // namespace mv70::serial
