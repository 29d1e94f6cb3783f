// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a projector last said, reading by reading, as the bridge keeps it for
// its network faces (PJLink, MQTT), and how a command queued for it ended. A
// plain value of typed readings (logic/reading.h): the faces' tables turn it
// into their replies and payloads without knowing where it came from.

#include <array>
#include <optional>

#include "logic/reading.h"

namespace mv70 {

// What the projector last said, reading by reading. A reading the projector
// has not given yet (or cannot give) is empty.
struct ProjectorState {
    bool lineUp = false;  // the line is open and the projector answers
    // The operating status; the flags are its own.
    Power power = Power::Unknown;
    bool lampFailure = false;
    bool temperatureWarning = false;
    bool powerFailure = false;
    bool powerManagement = false;
    bool keyInputOff = false;
    Source input = Source::Unknown;
    std::optional<bool> pictureMute;  // from the mute and signal query
    std::optional<bool> soundMute;
    bool noSignal = false;
    std::optional<bool> freeze;  // as last commanded: the projector cannot be asked
    std::optional<int> lampHours;
    std::array<std::optional<double>, 3> temperatures;  // S1..S3, degrees Celsius
    std::optional<LampMode> lampMode;
    std::optional<Reversal> reversal;
    std::optional<int> pressureHpa;

    // The operating status as read; an unknown power when none has been.
    OperatingStatus operatingStatus() const {
        return {power, temperatureWarning, lampFailure, powerFailure, powerManagement, keyInputOff};
    }

    bool operator==(const ProjectorState &) const = default;
};

// How a queued command ended.
enum class Outcome {
    Done,         // sent; the projector answered (or the reply window ended quietly, as for most commands)
    Unavailable,  // not sent: the projector cannot do it now (warming up, cooling down, in standby)
    LineLost,     // not sent, or sent without an answer: the line to the projector is lost
    Busy,         // not queued: the caller has as many commands waiting as it may (or the queue is full)
};

}  // namespace mv70

namespace mv70::bridge {
using mv70::Outcome;
using mv70::Power;
using mv70::ProjectorState;
using mv70::Source;
}  // namespace mv70::bridge
