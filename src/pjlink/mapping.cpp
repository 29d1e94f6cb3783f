// SPDX-License-Identifier: GPL-3.0-or-later
#include "pjlink/mapping.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "logic/command_table.h"

namespace mv70::pjlink {
namespace {

using bridge::Power;
using bridge::ProjectorState;
using bridge::Source;
using namespace std::string_view_literals;

// The projector's code for one of mv70-ctl's action words.
constexpr std::optional<std::u16string_view> codeOf(std::string_view action) {
    for (const OneShotButton &button : kOneShotButtons)
        if (button.action == action)
            return button.code;
    for (const HoldButton &button : kHoldButtons)
        if (button.action == action)
            return button.code();
    return std::nullopt;
}

// The power states in which a set goes to the projector; in any other the
// answer is ERR3. Unknown (nothing read yet) leaves it to the projector.
enum PowerSet : unsigned {
    kUnknown = 1u << unsigned(Power::Unknown),
    kStandby = 1u << unsigned(Power::Standby),
    kWarmingUp = 1u << unsigned(Power::WarmingUp),
    kOn = 1u << unsigned(Power::On),
    kCoolingDown = 1u << unsigned(Power::CoolingDown),
};
constexpr unsigned kOnOnly = kOn | kUnknown;

// A query's body from the state; empty while the projector has not told.
using Reading = QByteArray (*)(const ProjectorState &, const Identity &);

struct Row {
    char pjlinkClass;                         // the lowest class that knows the command
    std::string_view command;                 //
    std::string_view parameter;               // "?" and "?11" are queries
    std::array<std::string_view, 2> actions;  // set: what goes to the projector, in order
    unsigned allowedIn;                       // set: power states that allow it
    Reading reading;                          // query: its body
    bool needsLine;                           // query: only the projector can tell
};

struct InputRow {
    Source source;
    std::string_view terminal;  // PJLink: type digit, then terminal digit
    std::string_view action;
    std::string_view name;  // INNM: the panel's caption
};
constexpr std::array kInputs = {
    InputRow{Source::Computer1, "11", "input pc1", "PC1"},
    InputRow{Source::Computer2, "12", "input pc2", "PC2"},
    InputRow{Source::Video, "21", "input video", "Video"},
};

QByteArray bytes(std::string_view text) { return QByteArray(text.data(), qsizetype(text.size())); }

QByteArray powerBody(const ProjectorState &state, const Identity &) {
    switch (state.power) {
    case Power::Standby:
        return "0";
    case Power::On:
        return "1";
    case Power::CoolingDown:
        return "2";
    case Power::WarmingUp:
        return "3";
    case Power::Unknown:
        break;
    }
    return {};
}

QByteArray inputBody(const ProjectorState &state, const Identity &) {
    for (const InputRow &input : kInputs)
        if (input.source == state.input)
            return bytes(input.terminal);
    return {};
}

QByteArray muteBody(const ProjectorState &state, const Identity &) {
    if (!state.pictureMute || !state.soundMute)
        return {};
    if (*state.pictureMute && *state.soundMute)
        return "31";
    if (*state.pictureMute)
        return "11";
    if (*state.soundMute)
        return "21";
    return "30";
}

QByteArray errorBody(const ProjectorState &state, const Identity &) { return errorStatus(state); }

QByteArray lampBody(const ProjectorState &state, const Identity &) {
    if (!state.lampHours)
        return {};
    const bool lit = state.power == Power::On || state.power == Power::WarmingUp;
    return QByteArray::number(*state.lampHours) + (lit ? " 1" : " 0");
}

QByteArray freezeBody(const ProjectorState &state, const Identity &) {
    // The projector cannot be asked: as last commanded, not frozen before.
    return state.freeze.value_or(false) ? "1" : "0";
}

template <std::size_t I>
QByteArray inputName(const ProjectorState &, const Identity &) {
    return bytes(kInputs[I].name);
}

QByteArray inputList(const ProjectorState &, const Identity &) {
    QByteArrayList terminals;
    for (const InputRow &input : kInputs)
        terminals += bytes(input.terminal);
    return terminals.join(' ');
}

QByteArray nameBody(const ProjectorState &, const Identity &identity) { return identity.name; }
QByteArray maker(const ProjectorState &, const Identity &) { return "OLVA"; }
QByteArray model(const ProjectorState &, const Identity &) { return "MV70"; }
QByteArray otherInfo(const ProjectorState &, const Identity &) { return "RS-232C via mv70-bridge"; }
QByteArray pjlinkClass(const ProjectorState &, const Identity &) { return "2"; }
QByteArray version(const ProjectorState &, const Identity &identity) { return identity.softwareVersion; }

constexpr std::array<std::string_view, 2> none{};
constexpr std::array<std::string_view, 2> send(std::string_view action) { return {action, {}}; }
constexpr std::array<std::string_view, 2> send(std::string_view first, std::string_view second) {
    return {first, second};
}

// clang-format off
constexpr std::array kTable = {
    // Class 1
    Row{'1', "POWR", "1",   send("power on"),  kStandby | kWarmingUp | kOn | kUnknown,   nullptr, false},
    Row{'1', "POWR", "0",   send("power off"), kOn | kCoolingDown | kStandby | kUnknown, nullptr, false},
    Row{'1', "POWR", "?",   none, 0, powerBody, true},
    Row{'1', "INPT", "11",  send("input pc1"),   kOnOnly, nullptr, false},
    Row{'1', "INPT", "12",  send("input pc2"),   kOnOnly, nullptr, false},
    Row{'1', "INPT", "21",  send("input video"), kOnOnly, nullptr, false},
    Row{'1', "INPT", "?",   none, 0, inputBody, true},
    Row{'1', "INST", "?",   none, 0, inputList, false},
    Row{'1', "AVMT", "10",  send("no-show off"),                   kOnOnly, nullptr, false},
    Row{'1', "AVMT", "11",  send("no-show on"),                    kOnOnly, nullptr, false},
    Row{'1', "AVMT", "20",  send("sound-mute off"),                kOnOnly, nullptr, false},
    Row{'1', "AVMT", "21",  send("sound-mute on"),                 kOnOnly, nullptr, false},
    Row{'1', "AVMT", "30",  send("no-show off", "sound-mute off"), kOnOnly, nullptr, false},
    Row{'1', "AVMT", "31",  send("no-show on", "sound-mute on"),   kOnOnly, nullptr, false},
    Row{'1', "AVMT", "?",   none, 0, muteBody, true},
    Row{'1', "ERST", "?",   none, 0, errorBody, true},
    Row{'1', "LAMP", "?",   none, 0, lampBody, true},
    Row{'1', "NAME", "?",   none, 0, nameBody, false},
    Row{'1', "INF1", "?",   none, 0, maker, false},
    Row{'1', "INF2", "?",   none, 0, model, false},
    Row{'1', "INFO", "?",   none, 0, otherInfo, false},
    Row{'1', "CLSS", "?",   none, 0, pjlinkClass, false},
    // Class 2
    Row{'2', "SVOL", "1",   send("volume up"),   kOnOnly, nullptr, false},
    Row{'2', "SVOL", "0",   send("volume down"), kOnOnly, nullptr, false},
    Row{'2', "FREZ", "1",   send("freeze on"),   kOnOnly, nullptr, false},
    Row{'2', "FREZ", "0",   send("freeze off"),  kOnOnly, nullptr, false},
    Row{'2', "FREZ", "?",   none, 0, freezeBody, true},
    Row{'2', "INNM", "?11", none, 0, inputName<0>, false},
    Row{'2', "INNM", "?12", none, 0, inputName<1>, false},
    Row{'2', "INNM", "?21", none, 0, inputName<2>, false},
    Row{'2', "SVER", "?",   none, 0, version, false},
};
// clang-format on

constexpr bool everyActionIsACommand() {
    for (const Row &row : kTable)
        for (std::size_t i = 0; i < row.actions.size(); ++i)
            if (!row.actions[i].empty() && !codeOf(row.actions[i]))
                return false;
    for (const InputRow &input : kInputs)
        if (!codeOf(input.action))
            return false;
    return true;
}
static_assert(everyActionIsACommand(), "a PJLink set names an action the command table does not have");

constexpr bool inputRowsMatchTable() {
    for (std::size_t i = 0; i < kInputs.size(); ++i) {
        bool found = false;
        for (const Row &row : kTable)
            found = found
                 || (row.command == "INPT"sv && row.parameter == kInputs[i].terminal
                     && row.actions[0] == kInputs[i].action);
        if (!found)
            return false;
    }
    return true;
}
static_assert(inputRowsMatchTable(), "INPT sets and the input list disagree");

bool matches(std::string_view text, const QByteArray &value) {
    return value.size() == qsizetype(text.size()) && std::equal(text.begin(), text.end(), value.begin());
}

}  // namespace

QByteArray cutUtf8(QByteArray text, qsizetype limit) {
    if (text.size() <= limit)
        return text;
    qsizetype end = limit;
    // Step back over continuation bytes to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.truncate(end);
    return text;
}

Plan plan(const Request &request, const ProjectorState &state, const Identity &identity) {
    const Row *known = nullptr;
    const Row *row = nullptr;
    for (const Row &candidate : kTable) {
        if (!matches(candidate.command, request.command) || request.pjlinkClass < candidate.pjlinkClass)
            continue;
        known = &candidate;
        if (!request.separatorMissing && matches(candidate.parameter, request.parameter)) {
            row = &candidate;
            break;
        }
    }
    if (!known)
        return {reply(request, "ERR1"), {}};
    if (!row)
        return {reply(request, "ERR2"), {}};

    if (row->reading) {
        if (row->needsLine && !state.lineUp)
            return {reply(request, "ERR4"), {}};
        const QByteArray body = row->reading(state, identity);
        return {reply(request, body.isEmpty() ? QByteArrayView("ERR3") : QByteArrayView(body)), {}};
    }
    if (!state.lineUp)
        return {reply(request, "ERR4"), {}};
    if (!(row->allowedIn & (1u << unsigned(state.power))))
        return {reply(request, "ERR3"), {}};
    Plan result;
    for (std::string_view action : row->actions)
        if (!action.empty())
            result.codes += QString::fromStdU16String(std::u16string(*codeOf(action)));
    return result;
}

QByteArray setReply(const Request &request, bridge::Outcome outcome) {
    switch (outcome) {
    case bridge::Outcome::Done:
        return reply(request, "OK");
    case bridge::Outcome::Unavailable:
    case bridge::Outcome::Busy:
        return reply(request, "ERR3");
    case bridge::Outcome::LineLost:
        break;
    }
    return reply(request, "ERR4");
}

std::optional<QByteArray> settledPower(const ProjectorState &state) {
    if (state.power != Power::Standby && state.power != Power::On)
        return std::nullopt;
    return powerBody(state, {});
}

std::optional<QByteArray> inputTerminal(const ProjectorState &state) {
    QByteArray body = inputBody(state, {});
    if (body.isEmpty())
        return std::nullopt;
    return body;
}

QByteArray errorStatus(const ProjectorState &state) {
    // fan, lamp, temperature, cover, filter, other: 0 fine, 1 warning, 2 error
    QByteArray digits = "000000";
    if (state.lampFailure)
        digits[1] = '2';
    if (state.temperatureWarning)
        digits[2] = '1';
    if (state.powerFailure)
        digits[5] = '2';
    return digits;
}

}  // namespace mv70::pjlink
