// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every button that sends a command, and what it sends. A button and its
// command are one row here; where the button sits and its caption are the
// window's business. The action column names the row for mv70-ctl.

#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>
#include <string_view>

#include "logic/queries.h"

namespace mv70 {

// How long a reply is waited for, and how long the monitor lines hold what
// a command showed, in ms.
struct ReplyTiming {
    int replyWindow;
    int displayHold;
};

// At start, and after every release.
inline constexpr ReplyTiming kStartTiming{500, 1000};
// The repeat of a held button at start.
inline constexpr int kStartRepeatPeriod = 200;
inline constexpr ReplyTiming kImageTiming{2000, 2500};   // picture modes and SEND
inline constexpr ReplyTiming kSignalTiming{5000, 5500};  // signal types

// ---- One-shot buttons: a click sends one command -------------------------

enum class OneShotKind {
    Plain,      // issue the code
    Image,      // image timing, then issue the code
    Signal,     // signal timing, then issue the code
    MenuEntry,  // issue the code, then prepare the arrows: a repeat of 200 ms, ArrowSpeedMode 1
};

// The arrows' repeat after a menu entry: the start repeat.
inline constexpr int kMenuEntryRepeatPeriod = kStartRepeatPeriod;

struct OneShotButton {
    std::string_view control;  // its caption is the layout's
    std::string_view action;   // mv70-ctl's words; "" for a query, which the decoder names
    std::u16string_view code;
    OneShotKind kind;
};

inline constexpr std::array kOneShotButtons = {
    // POWER
    OneShotButton{"Command17", "power on", u"C00", OneShotKind::Plain},
    OneShotButton{"Command18", "power off", u"C01", OneShotKind::Plain},
    // INPUT MODE SET
    OneShotButton{"Command27", "input pc1", u"C05", OneShotKind::Plain},
    OneShotButton{"Command28", "input pc2", u"C06", OneShotKind::Plain},
    OneShotButton{"Command29", "input video", u"C07", OneShotKind::Plain},
    // SOUND MUTE
    OneShotButton{"Command19", "sound-mute on", u"C0B", OneShotKind::Plain},
    OneShotButton{"Command20", "sound-mute off", u"C0C", OneShotKind::Plain},
    // NO SHOW
    OneShotButton{"Command21", "no-show on", u"C0D", OneShotKind::Plain},
    OneShotButton{"Command22", "no-show off", u"C0E", OneShotKind::Plain},
    // AV Size
    OneShotButton{"Command31", "size regular", u"C0F", OneShotKind::Plain},
    OneShotButton{"Command32", "size wide", u"C10", OneShotKind::Plain},
    // MENU
    OneShotButton{"Command23", "menu on", u"C1C", OneShotKind::MenuEntry},
    OneShotButton{"Command24", "menu off", u"C1D", OneShotKind::Plain},
    // FREEZE
    OneShotButton{"Command25", "freeze on", u"C43", OneShotKind::Plain},
    OneShotButton{"Command26", "freeze off", u"C44", OneShotKind::Plain},
    // picture-mode grid, rows top to bottom
    OneShotButton{"Command4", "picture stand", u"C11", OneShotKind::Image},
    OneShotButton{"Command10", "picture real", u"C12", OneShotKind::Image},
    OneShotButton{"Command11", "picture cinema", u"C13", OneShotKind::Image},
    OneShotButton{"Command39", "picture image1", u"C14", OneShotKind::Image},
    OneShotButton{"Command40", "picture image2", u"C15", OneShotKind::Image},
    OneShotButton{"Command41", "picture image3", u"C16", OneShotKind::Image},
    OneShotButton{"Command42", "picture image4", u"C17", OneShotKind::Image},
    OneShotButton{"Command12", "picture b.board", u"C18", OneShotKind::Image},
    OneShotButton{"Command37", "picture dynamic", u"C19", OneShotKind::Image},
    // right-hand column
    OneShotButton{"Command13", "a-image", u"C89", OneShotKind::MenuEntry},
    OneShotButton{"Command30", "image", u"C27", OneShotKind::Plain},
    OneShotButton{"Command14", "p-timer", u"C8A", OneShotKind::Plain},
    OneShotButton{"Command3", "display-clear", u"C1E", OneShotKind::Plain},
    // query buttons of the data band: mv70-ctl takes their names from the decoder
    OneShotButton{"Command44", "", queryCode(Query::Status), OneShotKind::Plain},
    OneShotButton{"Command45", "", queryCode(Query::Input), OneShotKind::Plain},
    OneShotButton{"Command46", "", queryCode(Query::LampTime), OneShotKind::Plain},
    OneShotButton{"Command47", "", queryCode(Query::Reversal), OneShotKind::Plain},
    OneShotButton{"Command54", "", queryCode(Query::Temperatures), OneShotKind::Plain},
    // service band
    OneShotButton{"Command36", "c02", u"C02", OneShotKind::Plain},
    OneShotButton{"Command64", "signal pc1-rgb", u"C50", OneShotKind::Signal},
    OneShotButton{"Command65", "signal pc1-scart-rgb", u"C51", OneShotKind::Signal},
    OneShotButton{"Command66", "signal pc1-component", u"C54", OneShotKind::Signal},
    OneShotButton{"Command72", "signal pc2-rgb", u"CF INPUT COMPUTER2 ANALOG", OneShotKind::Signal},
    OneShotButton{"Command82", "signal video", u"CF INPUT VIDEO VIDEO", OneShotKind::Signal},
};
static_assert(kOneShotButtons.size() == 39);

// ---- Press-and-hold buttons: send at the press, repeat while held --------

// The code each repeat sends, by RepeatCode (1 to 24). Rows without a
// button are kept: the projector knows them.
inline constexpr std::array<std::u16string_view, 25> kRepeatCodes = {
    u"",                                                             // 0: no repeat
    u"C09", u"C0A", u"C3C", u"C3D", u"C3B", u"C3A", u"C20", u"C21",  // 1-8
    u"C4B", u"C4A", u"C5D", u"C5E", u"C3F", u"C3E", u"C20", u"C21",  // 9-16
    u"C30", u"C31", u"C8E", u"C8F", u"C5D", u"C5E", u"C5F", u"C60",  // 17-24
};

std::optional<std::u16string_view> repeatCodeText(quint8 repeatCode);

struct HoldButton {
    std::string_view control;  // its caption is the layout's
    std::string_view action;   // mv70-ctl's words
    quint8 repeatCode;         // the row of the repeat table: the code it sends
    bool arrow;                // arrows take their timing from ArrowSpeedMode
    int repeatPeriod;          // the repeat's period set at the press (not for arrows)
    ReplyTiming timing;        // set just after the first send (not for arrows)
    bool dZoomRelease;         // release also sets the repeat to 5 ms and ArrowSpeedMode to 3

    // What the press sends: the same code as every repeat tick.
    constexpr std::u16string_view code() const { return kRepeatCodes[repeatCode]; }
};

inline constexpr std::array kHoldButtons = {
    HoldButton{"Command1", "volume up", 1, false, 250, {200, 245}, false},
    HoldButton{"Command2", "volume down", 2, false, 250, {200, 245}, false},
    HoldButton{"Command15", "brightness up", 7, false, 50, {25, 25}, false},
    HoldButton{"Command35", "brightness down", 8, false, 50, {25, 25}, false},
    HoldButton{"Command48", "zoom up", 17, false, 250, {200, 245}, true},
    HoldButton{"Command49", "zoom down", 18, false, 250, {200, 245}, true},
    HoldButton{"Command50", "keystone up", 19, false, 250, {200, 245}, false},
    HoldButton{"Command51", "keystone down", 20, false, 250, {200, 245}, false},
    HoldButton{"Command6", "cursor select", 13, false, 500, {200, 245}, false},
    HoldButton{"Command5", "cursor up", 3, true, 0, {}, false},
    HoldButton{"Command7", "cursor down", 4, true, 0, {}, false},
    HoldButton{"Command9", "cursor left", 5, true, 0, {}, false},
    HoldButton{"Command8", "cursor right", 6, true, 0, {}, false},
};

inline constexpr int kDZoomReleaseRepeatPeriod = 5;
inline constexpr quint8 kDZoomReleaseArrowSpeedMode = 3;

// Arrow timing by ArrowSpeedMode; other modes leave the intervals alone.
std::optional<ReplyTiming> arrowTiming(quint8 arrowSpeedMode);

// Every press-and-hold button sends a row of the repeat table.
constexpr bool holdRowsExist() {
    for (const HoldButton &button : kHoldButtons)
        if (button.repeatCode == 0 || button.repeatCode >= kRepeatCodes.size())
            return false;
    return true;
}
static_assert(holdRowsExist());

// What pressing a button does to the timers, from its row alone: the reply
// window and display hold it sets (none: the last ones stay), and the repeat
// period it sets (none: the repeat keeps the period the last writer left).
struct ButtonTimings {
    std::optional<ReplyTiming> timing;
    std::optional<int> repeatPeriod;
};
ButtonTimings buttonTimings(const OneShotButton &button);
ButtonTimings buttonTimings(const HoldButton &button, quint8 arrowSpeedMode);

const OneShotButton *findOneShot(std::string_view control);
const HoldButton *findHold(std::string_view control);

// The code of the row named `action` (mv70-ctl's words, "power on"): a
// one-shot button's, else a press-and-hold button's first send. The one
// place an action's words become its code.
constexpr std::optional<std::u16string_view> codeOf(std::string_view action) {
    for (const OneShotButton &button : kOneShotButtons)
        if (button.action == action)
            return button.code;
    for (const HoldButton &button : kHoldButtons)
        if (button.action == action)
            return button.code();
    return std::nullopt;
}

}  // namespace mv70
