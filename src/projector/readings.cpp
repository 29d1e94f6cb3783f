// SPDX-License-Identifier: GPL-3.0-or-later
#include "projector/readings.h"

namespace mv70::bridge {

bool isQuery(QStringView code) { return queryWithCode(code).has_value(); }

void applyReading(const Reading &reading, ProjectorState &state) {
    std::visit(Overloaded{
                   [](std::monostate) {},
                   [&](const OperatingStatus &status) {
                       state.power = status.power;
                       state.lampFailure = status.lampFailure;
                       state.temperatureWarning = status.temperatureWarning;
                       state.powerFailure = status.powerFailure;
                       state.powerManagement = status.powerManagement;
                       state.keyInputOff = status.keyInputOff;
                   },
                   [&](Source input) { state.input = input; },
                   [&](Reversal reversal) { state.reversal = reversal; },
                   [&](const LampTime &time) {
                       if (time.hours)
                           state.lampHours = time.hours;
                   },
                   [&](const Temperatures &temperatures) { state.temperatures = temperatures.celsius; },
                   // A reading that says nothing of a mute leaves it.
                   [&](const MuteStatus &mute) {
                       if (mute.picture)
                           state.pictureMute = mute.picture;
                       if (mute.sound)
                           state.soundMute = mute.sound;
                       if (mute.noSignal)
                           state.noSignal = *mute.noSignal;
                   },
                   [](const Info &) {},
                   [&](const Pressure &pressure) { state.pressureHpa = pressure.hectopascals; },
                   [&](const LampMode &mode) { state.lampMode = mode; },
               },
               reading.value);
}

}  // namespace mv70::bridge
