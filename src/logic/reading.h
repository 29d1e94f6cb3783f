// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the projector's replies mean, as values: one type for each of the
// nine queries. The reply decoder (logic/reply_decoder.h) reads a reply into
// one of them and renders the STATUS line from it; the bridge's state, the
// network faces and mv70-ctl's JSON take these values and never the text.

#include <QString>

#include <array>
#include <optional>
#include <variant>

namespace mv70 {

// The operating status, as far as a controller cares.
enum class Power { Unknown, Standby, WarmingUp, On, CoolingDown };

// The selected input, as the projector reports it.
enum class Source { Unknown, Computer1, Computer2, Video, Input4 };

// The status query: the power state and what else the projector reports with it.
struct OperatingStatus {
    Power power = Power::Unknown;
    bool temperatureWarning = false;
    bool lampFailure = false;      // all lamps failed
    bool powerFailure = false;     //
    bool powerManagement = false;  // the lamp is off by power management
    bool keyInputOff = false;      // the projector takes no key input
    bool operator==(const OperatingStatus &) const = default;
};

// The picture reversal query.
enum class Reversal { None, TopBottom, LeftRight, Both };

// The mute and signal query. A reply that says nothing of a field leaves it
// empty: in standby nothing is said, and "no signal" says nothing of the mutes.
struct MuteStatus {
    std::optional<bool> picture;
    std::optional<bool> sound;
    std::optional<bool> noSignal;
    bool operator==(const MuteStatus &) const = default;
};

// The lamp mode query: which lamps are in use and which are lit.
struct LampMode {
    enum class Use { Both, Lamp1, Lamp2 };
    Use use = Use::Both;
    bool lamp1On = false;
    bool lamp2On = false;
    bool operator==(const LampMode &) const = default;
};

// The lamp time query; empty when the reply is not a number of hours.
struct LampTime {
    std::optional<int> hours;
    bool operator==(const LampTime &) const = default;
};

// The temperature query: sensors 1 to 3 in degrees Celsius; a sensor whose
// field is not a number is empty.
struct Temperatures {
    std::array<std::optional<double>, 3> celsius;
    bool operator==(const Temperatures &) const = default;
};

// The information query: the reply's characters as they came, up to the
// carriage return; empty until it has come.
struct Info {
    QString text;
    bool operator==(const Info &) const = default;
};

// The pressure query; empty when the reading is out of range.
struct Pressure {
    std::optional<int> hectopascals;
    bool operator==(const Pressure &) const = default;
};

// One reading: none (the reply is no reading), or the value of its query.
using ReadingValue = std::variant<std::monostate, OperatingStatus, Source, Reversal, LampTime, Temperatures, MuteStatus,
                                  Info, Pressure, LampMode>;

// How a power state is put in a sentence: "the projector is %1".
QString powerWords(Power power);

// Visits a ReadingValue with one lambda per alternative.
template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace mv70
