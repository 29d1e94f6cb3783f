// SPDX-License-Identifier: GPL-3.0-or-later
#include "pjlink/mapping.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "logic/operations.h"

namespace mv70::pjlink {
namespace {

using bridge::Power;
using bridge::ProjectorState;
using bridge::Source;
using namespace std::string_view_literals;

// A query's body from the state; empty while the projector has not told.
using Reading = QByteArray (*)(const ProjectorState &, const Identity &);

// Where a query's answer comes from, and so what it says while the line to
// the projector is lost.
enum class From {
    Bridge,        // the bridge knows it: answered whatever the line does
    BridgeOrNone,  // the same, and an empty value is an answer (no such number)
    Projector,     // only the projector can tell: ERR4 while the line is lost
    LastReading,   // the last reading while the line is lost; ERR4 when there is none
};

// A set sends its operations in order; the power states that allow them
// are the operations' own (logic/operations.h), so a set refused here is
// refused by every front end alike.
struct Row {
    char pjlinkClass;                                    // the lowest class that knows the command
    std::string_view command;                            //
    std::string_view parameter;                          // "?" and "?11" are queries
    std::array<std::optional<Operation>, 2> operations;  // set: what goes to the projector, in order
    Reading reading;                                     // query: its body
    From from;                                           // query: where its body comes from
};

struct InputRow {
    Source source;
    std::string_view terminal;  // PJLink: type digit, then terminal digit
    Operation operation;
    std::string_view name;  // INNM: the panel's caption
};
constexpr std::array kInputs = {
    InputRow{Source::Computer1, "11", Operation::InputPc1, "PC1"},
    InputRow{Source::Computer2, "12", Operation::InputPc2, "PC2"},
    InputRow{Source::Video, "21", Operation::InputVideo, "Video"},
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
    // While the projector does not answer, its lamp is not known to be lit;
    // the hours are what it said last (they never go back).
    const bool lit = state.lineUp && (state.power == Power::On || state.power == Power::WarmingUp);
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
QByteArray serialNumber(const ProjectorState &, const Identity &identity) { return identity.serialNumber; }
// The projector has no replacement part numbers for its lamp or filter.
QByteArray noNumber(const ProjectorState &, const Identity &) { return {}; }

using Operations = std::array<std::optional<Operation>, 2>;
constexpr Operations none{};
constexpr Operations send(Operation operation) { return {operation, std::nullopt}; }
constexpr Operations send(Operation first, Operation second) { return {first, second}; }

using enum Operation;

// clang-format off
constexpr std::array kTable = {
    // Class 1
    Row{'1', "POWR", "1",   send(PowerOn),  nullptr, From::Bridge},
    Row{'1', "POWR", "0",   send(PowerOff), nullptr, From::Bridge},
    Row{'1', "POWR", "?",   none, powerBody, From::Projector},
    Row{'1', "INPT", "11",  send(InputPc1),   nullptr, From::Bridge},
    Row{'1', "INPT", "12",  send(InputPc2),   nullptr, From::Bridge},
    Row{'1', "INPT", "21",  send(InputVideo), nullptr, From::Bridge},
    Row{'1', "INPT", "?",   none, inputBody, From::Projector},
    Row{'1', "INST", "?",   none, inputList, From::Bridge},
    Row{'1', "AVMT", "10",  send(PictureMuteOff),               nullptr, From::Bridge},
    Row{'1', "AVMT", "11",  send(PictureMuteOn),                nullptr, From::Bridge},
    Row{'1', "AVMT", "20",  send(SoundMuteOff),                 nullptr, From::Bridge},
    Row{'1', "AVMT", "21",  send(SoundMuteOn),                  nullptr, From::Bridge},
    Row{'1', "AVMT", "30",  send(PictureMuteOff, SoundMuteOff), nullptr, From::Bridge},
    Row{'1', "AVMT", "31",  send(PictureMuteOn, SoundMuteOn),   nullptr, From::Bridge},
    Row{'1', "AVMT", "?",   none, muteBody, From::Projector},
    Row{'1', "ERST", "?",   none, errorBody, From::Bridge},
    Row{'1', "LAMP", "?",   none, lampBody, From::LastReading},
    Row{'1', "NAME", "?",   none, nameBody, From::Bridge},
    Row{'1', "INF1", "?",   none, maker, From::Bridge},
    Row{'1', "INF2", "?",   none, model, From::Bridge},
    Row{'1', "INFO", "?",   none, otherInfo, From::Bridge},
    Row{'1', "CLSS", "?",   none, pjlinkClass, From::Bridge},
    // Class 2
    Row{'2', "SVOL", "1",   send(VolumeUp),   nullptr, From::Bridge},
    Row{'2', "SVOL", "0",   send(VolumeDown), nullptr, From::Bridge},
    Row{'2', "FREZ", "1",   send(FreezeOn),   nullptr, From::Bridge},
    Row{'2', "FREZ", "0",   send(FreezeOff),  nullptr, From::Bridge},
    Row{'2', "FREZ", "?",   none, freezeBody, From::Projector},
    Row{'2', "INNM", "?11", none, inputName<0>, From::Bridge},
    Row{'2', "INNM", "?12", none, inputName<1>, From::Bridge},
    Row{'2', "INNM", "?21", none, inputName<2>, From::Bridge},
    Row{'2', "SVER", "?",   none, version, From::Bridge},
    Row{'2', "SNUM", "?",   none, serialNumber, From::BridgeOrNone},
    Row{'2', "RLMP", "?",   none, noNumber, From::BridgeOrNone},
    Row{'2', "RFIL", "?",   none, noNumber, From::BridgeOrNone},
};
// clang-format on

constexpr bool inputRowsMatchTable() {
    for (std::size_t i = 0; i < kInputs.size(); ++i) {
        bool found = false;
        for (const Row &row : kTable)
            found = found
                 || (row.command == "INPT"sv && row.parameter == kInputs[i].terminal
                     && row.operations[0] == kInputs[i].operation);
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
        const QByteArray body = row->reading(state, identity);
        if (!state.lineUp && (row->from == From::Projector || (row->from == From::LastReading && body.isEmpty())))
            return {reply(request, "ERR4"), {}};
        if (body.isEmpty() && row->from != From::BridgeOrNone)
            return {reply(request, "ERR3"), {}};
        return {reply(request, body), {}};
    }
    if (!state.lineUp)
        return {reply(request, "ERR4"), {}};
    Plan result;
    for (const std::optional<Operation> &operation : row->operations) {
        if (!operation)
            continue;
        const OperationRow &sent = operationRow(*operation);
        if (!possibleNow(sent, state.power))
            return {reply(request, "ERR3"), {}};
        result.codes += QStringView(sent.code).toString();
    }
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
    // Other: a power failure, or a projector the bridge cannot reach (the
    // line lost, or no answer): a controller that reads only ERST shows a
    // fault rather than a healthy projector.
    if (state.powerFailure || !state.lineUp)
        digits[5] = '2';
    return digits;
}

}  // namespace mv70::pjlink
