#pragma once
// Every button that sends a command, and what it sends. A button and its
// command are one row here; where the button sits is the window's business.

#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>
#include <string_view>

#include "protocol/timers.h"

namespace mv70 {

// Intervals of the reply window (Timer2) and the display hold (Timer4), in ms.
struct ReplyTiming {
    int replyWindow;
    int displayHold;
};

// At start, and after every release: the timers' start intervals.
inline constexpr ReplyTiming kStartTiming{startInterval("Timer2"), startInterval("Timer4")};
inline constexpr ReplyTiming kImageTiming{2000, 2500};   // picture modes and SEND
inline constexpr ReplyTiming kSignalTiming{5000, 5500};  // signal types

// ---- One-shot buttons: a click sends one command -------------------------

enum class OneShotKind {
    Plain,      // issue the code
    Image,      // image timing, then issue the code
    Signal,     // signal timing, then issue the code
    MenuEntry,  // issue the code, then prepare the arrows: Timer1 200 ms, ArrowSpeedMode 1
};

// The arrows' repeat after a menu entry: Timer1's start interval.
inline constexpr int kMenuEntryRepeatPeriod = startInterval("Timer1");

struct OneShotButton {
    std::string_view control;  // its caption is the layout's
    std::u16string_view code;
    OneShotKind kind;
};

inline constexpr std::array kOneShotButtons = {
    // POWER
    OneShotButton{"Command17", u"C00", OneShotKind::Plain},
    OneShotButton{"Command18", u"C01", OneShotKind::Plain},
    // INPUT MODE SET
    OneShotButton{"Command27", u"C05", OneShotKind::Plain},
    OneShotButton{"Command28", u"C06", OneShotKind::Plain},
    OneShotButton{"Command29", u"C07", OneShotKind::Plain},
    // SOUND MUTE
    OneShotButton{"Command19", u"C0B", OneShotKind::Plain},
    OneShotButton{"Command20", u"C0C", OneShotKind::Plain},
    // NO SHOW
    OneShotButton{"Command21", u"C0D", OneShotKind::Plain},
    OneShotButton{"Command22", u"C0E", OneShotKind::Plain},
    // AV Size
    OneShotButton{"Command31", u"C0F", OneShotKind::Plain},
    OneShotButton{"Command32", u"C10", OneShotKind::Plain},
    // MENU
    OneShotButton{"Command23", u"C1C", OneShotKind::MenuEntry},
    OneShotButton{"Command24", u"C1D", OneShotKind::Plain},
    // FREEZE
    OneShotButton{"Command25", u"C43", OneShotKind::Plain},
    OneShotButton{"Command26", u"C44", OneShotKind::Plain},
    // picture-mode grid, rows top to bottom
    OneShotButton{"Command4", u"C11", OneShotKind::Image},
    OneShotButton{"Command10", u"C12", OneShotKind::Image},
    OneShotButton{"Command11", u"C13", OneShotKind::Image},
    OneShotButton{"Command39", u"C14", OneShotKind::Image},
    OneShotButton{"Command40", u"C15", OneShotKind::Image},
    OneShotButton{"Command41", u"C16", OneShotKind::Image},
    OneShotButton{"Command42", u"C17", OneShotKind::Image},
    OneShotButton{"Command12", u"C18", OneShotKind::Image},
    OneShotButton{"Command37", u"C19", OneShotKind::Image},
    // right-hand column
    OneShotButton{"Command13", u"C89", OneShotKind::MenuEntry},
    OneShotButton{"Command30", u"C27", OneShotKind::Plain},
    OneShotButton{"Command14", u"C8A", OneShotKind::Plain},
    OneShotButton{"Command3", u"C1E", OneShotKind::Plain},
    // query buttons of the data band
    OneShotButton{"Command44", u"CR0", OneShotKind::Plain},
    OneShotButton{"Command45", u"CR1", OneShotKind::Plain},
    OneShotButton{"Command46", u"CR3", OneShotKind::Plain},
    OneShotButton{"Command47", u"CR4", OneShotKind::Plain},
    OneShotButton{"Command54", u"CR6", OneShotKind::Plain},
    // service band
    OneShotButton{"Command36", u"C02", OneShotKind::Plain},
    OneShotButton{"Command64", u"C50", OneShotKind::Signal},        // PC1
    OneShotButton{"Command65", u"C51", OneShotKind::Signal},  // PC1
    OneShotButton{"Command66", u"C54", OneShotKind::Signal},  // PC1
    OneShotButton{"Command72", u"CF INPUT COMPUTER2 ANALOG", OneShotKind::Signal},  // PC2
    OneShotButton{"Command82", u"CF INPUT VIDEO VIDEO", OneShotKind::Signal},     // Video
};
static_assert(kOneShotButtons.size() == 39);

// ---- Press-and-hold buttons: send at the press, repeat while held --------

// The code each Timer1 tick sends, by RepeatCode (1 to 24). Rows without a
// button are kept: the projector knows them.
inline constexpr std::array<std::u16string_view, 25> kRepeatCodes = {
    u"",                                        // 0: no repeat
    u"C09", u"C0A", u"C3C", u"C3D", u"C3B", u"C3A", u"C20", u"C21",  // 1-8
    u"C4B", u"C4A", u"C5D", u"C5E", u"C3F", u"C3E", u"C20", u"C21",  // 9-16
    u"C30", u"C31", u"C8E", u"C8F", u"C5D", u"C5E", u"C5F", u"C60",  // 17-24
};

std::optional<std::u16string_view> repeatCodeText(quint8 repeatCode);

struct HoldButton {
    std::string_view control;  // its caption is the layout's
    quint8 repeatCode;         // the row of the repeat table: the code it sends
    bool arrow;                // arrows take their timing from ArrowSpeedMode
    int repeatPeriod;          // Timer1 interval set at the press (not for arrows)
    ReplyTiming timing;        // set just after the first send (not for arrows)
    bool dZoomRelease;         // release also sets Timer1 to 5 ms and ArrowSpeedMode to 3

    // What the press sends: the same code as every repeat tick.
    constexpr std::u16string_view code() const { return kRepeatCodes[repeatCode]; }
};

inline constexpr std::array kHoldButtons = {
    HoldButton{"Command1", 1, false, 250, {200, 245}, false},   // VOL
    HoldButton{"Command2", 2, false, 250, {200, 245}, false},   // VOL
    HoldButton{"Command15", 7, false, 50, {25, 25}, false},     // Brightness
    HoldButton{"Command35", 8, false, 50, {25, 25}, false},     // Brightness
    HoldButton{"Command48", 17, false, 250, {200, 245}, true},  // D.Zoom
    HoldButton{"Command49", 18, false, 250, {200, 245}, true},  // D.Zoom
    HoldButton{"Command50", 19, false, 250, {200, 245}, false}, // Keystone
    HoldButton{"Command51", 20, false, 250, {200, 245}, false}, // Keystone
    HoldButton{"Command6", 13, false, 500, {200, 245}, false},
    HoldButton{"Command5", 3, true, 0, {}, false},
    HoldButton{"Command7", 4, true, 0, {}, false},
    HoldButton{"Command9", 5, true, 0, {}, false},
    HoldButton{"Command8", 6, true, 0, {}, false},
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

const OneShotButton *findOneShot(std::string_view control);
const HoldButton *findHold(std::string_view control);

}  // namespace mv70
