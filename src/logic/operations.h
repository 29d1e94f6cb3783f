// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The operations that mv70-ctl, PJLink and MQTT offer, in one table: the
// command each sends (its code from the command table, by mv70-ctl's words),
// the power states in which the projector can do it, the query whose reading
// it changes and what it sets. Every front end asks here whether an
// operation is possible now, and gives the same answer. The panel is not
// asked: it sends whatever the operator presses.

#include <QStringView>

#include <array>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "logic/command_table.h"
#include "logic/queries.h"
#include "logic/reading.h"

namespace mv70 {

enum class Operation {
    PowerOn,
    PowerOff,
    InputPc1,
    InputPc2,
    InputVideo,
    SoundMuteOn,
    SoundMuteOff,
    PictureMuteOn,
    PictureMuteOff,
    FreezeOn,
    FreezeOff,
    VolumeUp,
    VolumeDown,
};

// A set of power states.
class PowerSet {
public:
    constexpr PowerSet(std::initializer_list<Power> states) {
        for (Power power : states)
            bits_ |= bit(power);
    }
    constexpr bool contains(Power power) const { return (bits_ & bit(power)) != 0; }

private:
    static constexpr unsigned bit(Power power) { return 1u << static_cast<unsigned>(power); }
    unsigned bits_ = 0;
};

struct OperationRow {
    Operation operation;
    std::string_view words;  // mv70-ctl's words: the command table's action column
    std::u16string_view code;
    PowerSet allowedIn;               // the power states in which the projector can do it
    std::optional<Query> followedBy;  // the query whose reading it changes
    std::optional<bool> freeze;       // the freeze it sets

    // The code is the command table's for the words.
    constexpr OperationRow(Operation op, std::string_view name, PowerSet allowed,
                           std::optional<Query> followedByQuery = std::nullopt,
                           std::optional<bool> freezeSet = std::nullopt)
        : operation(op), words(name), code(codeOf(name).value_or(u"")), allowedIn(allowed), followedBy(followedByQuery),
          freeze(freezeSet) {}
};

// Power on waits for the cooling down to end; power off is not taken while
// the lamp warms up; everything else needs the projector on.
inline constexpr PowerSet kPowerOnAllowed{Power::Standby, Power::WarmingUp, Power::On};
inline constexpr PowerSet kPowerOffAllowed{Power::Standby, Power::On, Power::CoolingDown};
inline constexpr PowerSet kOnOnly{Power::On};

// clang-format off
inline constexpr std::array kOperations = {
    OperationRow{Operation::PowerOn,        "power on",       kPowerOnAllowed,  Query::Status},
    OperationRow{Operation::PowerOff,       "power off",      kPowerOffAllowed, Query::Status},
    OperationRow{Operation::InputPc1,       "input pc1",      kOnOnly,          Query::Input},
    OperationRow{Operation::InputPc2,       "input pc2",      kOnOnly,          Query::Input},
    OperationRow{Operation::InputVideo,     "input video",    kOnOnly,          Query::Input},
    OperationRow{Operation::SoundMuteOn,    "sound-mute on",  kOnOnly,          Query::Mute},
    OperationRow{Operation::SoundMuteOff,   "sound-mute off", kOnOnly,          Query::Mute},
    OperationRow{Operation::PictureMuteOn,  "no-show on",     kOnOnly,          Query::Mute},
    OperationRow{Operation::PictureMuteOff, "no-show off",    kOnOnly,          Query::Mute},
    OperationRow{Operation::FreezeOn,       "freeze on",      kOnOnly,          std::nullopt, true},
    OperationRow{Operation::FreezeOff,      "freeze off",     kOnOnly,          std::nullopt, false},
    OperationRow{Operation::VolumeUp,       "volume up",      kOnOnly},
    OperationRow{Operation::VolumeDown,     "volume down",    kOnOnly},
};
// clang-format on

constexpr bool operationsAreCommands() {
    for (std::size_t i = 0; i < kOperations.size(); ++i)
        if (kOperations[i].operation != Operation(i) || kOperations[i].code.empty())
            return false;
    return true;
}
static_assert(operationsAreCommands(), "an operation out of order, or one the command table does not have");

constexpr const OperationRow &operationRow(Operation operation) {
    return kOperations[static_cast<std::size_t>(operation)];
}

// The operation that sends `code`, or that mv70-ctl names `words`; null for none.
const OperationRow *operationWithCode(QStringView code);
const OperationRow *operationNamed(std::string_view words);

// Whether the projector can do it in the power state `power`. An unknown
// power state (nothing read yet, or no answer) allows everything: the
// projector decides.
constexpr bool possibleNow(const OperationRow &row, Power power) {
    return power == Power::Unknown || row.allowedIn.contains(power);
}

}  // namespace mv70
