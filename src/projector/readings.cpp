// SPDX-License-Identifier: GPL-3.0-or-later
#include "projector/readings.h"

#include "logic/command_table.h"

#include <algorithm>

namespace mv70::bridge {
namespace {

// What a command does beyond going to the line.
struct Effect {
    std::string_view action;  // the command table's row
    bool needsPowerOn;        // refused outside power on
    std::u16string_view queryAfter;
    std::optional<bool> freeze;
};

// clang-format off
constexpr Effect kEffects[] = {
    {"power on",       false, u"CR0", {}},
    {"power off",      false, u"CR0", {}},
    {"input pc1",      true,  u"CR1", {}},
    {"input pc2",      true,  u"CR1", {}},
    {"input video",    true,  u"CR1", {}},
    {"sound-mute on",  true,  u"CRA", {}},
    {"sound-mute off", true,  u"CRA", {}},
    {"no-show on",     true,  u"CRA", {}},
    {"no-show off",    true,  u"CRA", {}},
    {"freeze on",      true,  u"",    true},
    {"freeze off",     true,  u"",    false},
    {"volume up",      true,  u"",    {}},
    {"volume down",    true,  u"",    {}},
};

// The operating status readings: the power state and the error flags each means.
struct StatusMeaning {
    std::u16string_view text;  // as the reply decoder gives it
    Power power;
    bool lampFailure, temperatureWarning, powerFailure;
};
constexpr StatusMeaning kStatusMeanings[] = {
    {u" Power ON",                                Power::On,          false, false, false},
    {u" Stand by",                                Power::Standby,     false, false, false},
    {u" Count down",                              Power::WarmingUp,   false, false, false},
    {u" Cooling down",                            Power::CoolingDown, false, false, false},
    {u" Power Fail",                              Power::Standby,     false, false, true},
    {u" Temperature Warning",                     Power::On,          false, true,  false},
    {u" NO Key input ",                           Power::On,          false, false, false},
    {u" Lamp OFF by PWR Management",              Power::Standby,     false, false, false},
    {u" Temperature Warning & cooling down",      Power::CoolingDown, false, true,  false},
    {u"Cooling down  PWR Management",             Power::CoolingDown, false, false, false},
    {u" Temperature Warning and recoverd",        Power::Standby,     false, true,  false},
    {u" Cooling down (All Lamp FAIL)",            Power::CoolingDown, true,  false, false},
    {u" Cooling down & sutandby (All Lamp FAIL)", Power::Standby,     true,  false, false},
};

struct InputMeaning {
    std::u16string_view text;
    Source input;
};
constexpr InputMeaning kInputMeanings[] = {
    {u" Computer 1",   Source::Computer1},
    {u" Computer 2",   Source::Computer2},
    {u" Video",        Source::Video},
    {u" Input mode 4", Source::Unknown},
};

// The mute and signal readings; a reading that says nothing of a mute leaves it.
struct MuteMeaning {
    std::u16string_view text;
    std::optional<bool> picture, sound;
    bool noSignal;
};
constexpr MuteMeaning kMuteMeanings[] = {
    {u" Video & Audio mute OFF", false, false, false},
    {u" Video mute ON",          true,  false, false},
    {u" Audio mute ON",          false, true,  false},
    {u" Video & Audio mute ON",  true,  true,  false},
    {u" No signal",              {},    {},    true},
    {u" Stand by",               {},    {},    false},
};
// clang-format on

const Effect *effectOf(QStringView code) {
    for (const Effect &effect : kEffects)
        if (codeOf(effect.action) == code)
            return &effect;
    return nullptr;
}

template <typename Row, size_t N>
const Row *rowFor(const Row (&rows)[N], QStringView text) {
    for (const Row &row : rows)
        if (QStringView(row.text.data(), qsizetype(row.text.size())) == text)
            return &row;
    return nullptr;
}

// " 1 2 3 4 CR  Hour Use": the digits the trace starts with.
std::optional<int> lampHours(QStringView text) {
    QString digits;
    for (QStringView token : text.split(u' ', Qt::SkipEmptyParts)) {
        if (token.size() != 1 || !token[0].isDigit())
            break;
        digits += token[0];
    }
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    return digits.toInt();
}

// The temperature between `from` and `to` in the reading, blanks dropped.
std::optional<double> temperatureBetween(QStringView text, QStringView from, QStringView to) {
    const qsizetype start = text.indexOf(from);
    if (start < 0)
        return std::nullopt;
    const qsizetype begin = start + from.size();
    const qsizetype end = text.indexOf(to, begin);
    if (end < 0)
        return std::nullopt;
    QString number = text.sliced(begin, end - begin).toString();
    number.remove(u' ');
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

}  // namespace

QString codeOf(std::string_view action) {
    for (const OneShotButton &button : kOneShotButtons)
        if (button.action == action)
            return QString::fromUtf16(button.code.data(), qsizetype(button.code.size()));
    for (const HoldButton &button : kHoldButtons)
        if (button.action == action)
            return QString::fromUtf16(button.code().data(), qsizetype(button.code().size()));
    return {};
}

bool isQuery(QStringView code) {
    const auto queries = knownQueries();
    return std::any_of(queries.begin(), queries.end(), [&](const QueryName &query) {
        return QStringView(query.code.data(), qsizetype(query.code.size())) == code;
    });
}

bool possibleNow(QStringView code, Power power) {
    if (power == Power::Unknown)
        return true;
    if (code == codeOf("power on"))
        return power != Power::CoolingDown;
    const Effect *effect = effectOf(code);
    return !effect || !effect->needsPowerOn || power == Power::On;
}

std::optional<QString> queryAfter(QStringView code) {
    const Effect *effect = effectOf(code);
    if (!effect || effect->queryAfter.empty())
        return std::nullopt;
    return QString::fromUtf16(effect->queryAfter.data(), qsizetype(effect->queryAfter.size()));
}

std::optional<bool> freezeSetBy(QStringView code) {
    const Effect *effect = effectOf(code);
    return effect ? effect->freeze : std::nullopt;
}

void applyReading(QStringView query, const Reading &reading, ProjectorState &state) {
    const QString &text = reading.text;
    if (query == u"CR0") {
        state.status = text.trimmed();
        if (const StatusMeaning *meaning = rowFor(kStatusMeanings, text)) {
            state.power = meaning->power;
            state.lampFailure = meaning->lampFailure;
            state.temperatureWarning = meaning->temperatureWarning;
            state.powerFailure = meaning->powerFailure;
        }
    } else if (query == u"CR1") {
        if (const InputMeaning *meaning = rowFor(kInputMeanings, text))
            state.input = meaning->input;
    } else if (query == u"CRA") {
        if (const MuteMeaning *meaning = rowFor(kMuteMeanings, text)) {
            if (meaning->picture)
                state.pictureMute = meaning->picture;
            if (meaning->sound)
                state.soundMute = meaning->sound;
            if (meaning->text != u" Stand by")
                state.noSignal = meaning->noSignal;
        }
    } else if (query == u"CR3") {
        if (const auto hours = lampHours(text))
            state.lampHours = hours;
    } else if (query == u"CR6") {
        state.temperatures = {temperatureBetween(text, u"S1=", u" C  ,"), temperatureBetween(text, u"S2=", u" C , S3="),
                              temperatureBetween(text, u"S3=", u" C")};
    } else if (query == u"CR4") {
        state.reversal = text.trimmed();
    } else if (query == u"CR7") {
        state.lampMode = text.trimmed();
    } else if (query == u"CR PRESSURE") {
        if (reading.outcome == Reading::Outcome::OutOfRange) {
            state.pressureHpa.reset();
        } else {
            bool ok = false;
            const int hpa = QStringView(text).chopped(text.endsWith(u" hPa") ? 4 : 0).toInt(&ok);
            state.pressureHpa = ok ? std::optional<int>(hpa) : std::nullopt;
        }
    }
}

}  // namespace mv70::bridge
