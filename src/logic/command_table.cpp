// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/command_table.h"

#include <algorithm>

namespace mv70 {

std::optional<std::u16string_view> repeatCodeText(quint8 repeatCode) {
    if (repeatCode == 0 || repeatCode >= kRepeatCodes.size())
        return std::nullopt;
    return kRepeatCodes[repeatCode];
}

std::optional<ReplyTiming> arrowTiming(quint8 arrowSpeedMode) {
    switch (arrowSpeedMode) {
    case 1:
        return ReplyTiming{150, 190};
    case 3:
        return ReplyTiming{5, 5};
    default:
        return std::nullopt;
    }
}

ButtonTimings buttonTimings(const OneShotButton &button) {
    switch (button.kind) {
    case OneShotKind::Plain:
        return {};
    case OneShotKind::Image:
        return {kImageTiming, std::nullopt};
    case OneShotKind::Signal:
        return {kSignalTiming, std::nullopt};
    case OneShotKind::MenuEntry:
        return {std::nullopt, kMenuEntryRepeatPeriod};
    }
    return {};
}

ButtonTimings buttonTimings(const HoldButton &button, quint8 arrowSpeedMode) {
    if (button.arrow)
        return {arrowTiming(arrowSpeedMode), std::nullopt};
    return {button.timing, button.repeatPeriod};
}

const OneShotButton *findOneShot(std::string_view control) {
    const auto *it = std::ranges::find(kOneShotButtons, control, &OneShotButton::control);
    return it == kOneShotButtons.end() ? nullptr : it;
}

const HoldButton *findHold(std::string_view control) {
    const auto *it = std::ranges::find(kHoldButtons, control, &HoldButton::control);
    return it == kHoldButtons.end() ? nullptr : it;
}

}  // namespace mv70
