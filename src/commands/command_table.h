#pragma once
// Every button that sends a command, and what it sends. A button and its
// command are one row here; where the button sits is the window's business.

#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>
#include <string_view>

namespace mv70 {

// Intervals of the reply window (Timer2) and the display hold (Timer4), in ms.
struct ReplyTiming {
    int replyWindow;
    int displayHold;
};

inline constexpr ReplyTiming kStartTiming{500, 1000};    // at start, and after every release
inline constexpr ReplyTiming kImageTiming{2000, 2500};   // picture modes and SEND
inline constexpr ReplyTiming kSignalTiming{5000, 5500};  // signal types

// ---- One-shot buttons: a click sends one command -------------------------

enum class OneShotKind {
    Plain,      // issue the code
    Image,      // image timing, then issue the code
    Signal,     // signal timing, then issue the code
    MenuEntry,  // issue the code, then prepare the arrows: Timer1 200 ms, ArrowSpeedMode 1
};

inline constexpr int kMenuEntryRepeatPeriod = 200;

struct OneShotButton {
    std::string_view control;
    std::u16string_view caption;
    std::u16string_view code;
    OneShotKind kind;
};

inline constexpr std::array kOneShotButtons = {
    // POWER
    OneShotButton{"Command17", u"ON", u"C00", OneShotKind::Plain},
    OneShotButton{"Command18", u"OFF", u"C01", OneShotKind::Plain},
    // INPUT MODE SET
    OneShotButton{"Command27", u"PC1", u"C05", OneShotKind::Plain},
    OneShotButton{"Command28", u"PC2", u"C06", OneShotKind::Plain},
    OneShotButton{"Command29", u"Video", u"C07", OneShotKind::Plain},
    // SOUND MUTE
    OneShotButton{"Command19", u"ON", u"C0B", OneShotKind::Plain},
    OneShotButton{"Command20", u"OFF", u"C0C", OneShotKind::Plain},
    // NO SHOW
    OneShotButton{"Command21", u"ON", u"C0D", OneShotKind::Plain},
    OneShotButton{"Command22", u"OFF", u"C0E", OneShotKind::Plain},
    // AV Size
    OneShotButton{"Command31", u"Regular", u"C0F", OneShotKind::Plain},
    OneShotButton{"Command32", u"Wide", u"C10", OneShotKind::Plain},
    // MENU
    OneShotButton{"Command23", u"ON", u"C1C", OneShotKind::MenuEntry},
    OneShotButton{"Command24", u"OFF", u"C1D", OneShotKind::Plain},
    // FREEZE
    OneShotButton{"Command25", u"ON", u"C43", OneShotKind::Plain},
    OneShotButton{"Command26", u"OFF", u"C44", OneShotKind::Plain},
    // picture-mode grid, rows top to bottom
    OneShotButton{"Command4", u"STAND", u"C11", OneShotKind::Image},
    OneShotButton{"Command10", u"REAL", u"C12", OneShotKind::Image},
    OneShotButton{"Command11", u"CINEMA", u"C13", OneShotKind::Image},
    OneShotButton{"Command39", u"IMAGE1", u"C14", OneShotKind::Image},
    OneShotButton{"Command40", u"IMAGE2", u"C15", OneShotKind::Image},
    OneShotButton{"Command41", u"IMAGE3", u"C16", OneShotKind::Image},
    OneShotButton{"Command42", u"IMAGE4", u"C17", OneShotKind::Image},
    OneShotButton{"Command12", u"B.Board", u"C18", OneShotKind::Image},
    OneShotButton{"Command37", u"Dynamic", u"C19", OneShotKind::Image},
    // right-hand column
    OneShotButton{"Command13", u"A-IMAGE", u"C89", OneShotKind::MenuEntry},
    OneShotButton{"Command30", u"IMAGE", u"C27", OneShotKind::Plain},
    OneShotButton{"Command14", u"P-TIMER", u"C8A", OneShotKind::Plain},
    OneShotButton{"Command3", u"DISPLAY CLEAR", u"C1E", OneShotKind::Plain},
    // query buttons of the data band
    OneShotButton{"Command44", u"STATUS", u"CR0", OneShotKind::Plain},
    OneShotButton{"Command45", u"MODE", u"CR1", OneShotKind::Plain},
    OneShotButton{"Command46", u"L-TIME", u"CR3", OneShotKind::Plain},
    OneShotButton{"Command47", u"SETTING", u"CR4", OneShotKind::Plain},
    OneShotButton{"Command54", u"TEMP", u"CR6", OneShotKind::Plain},
    // service band
    OneShotButton{"Command36", u"C02", u"C02", OneShotKind::Plain},
    OneShotButton{"Command64", u"RGB", u"C50", OneShotKind::Signal},        // PC1
    OneShotButton{"Command65", u"SCART RGB", u"C51", OneShotKind::Signal},  // PC1
    OneShotButton{"Command66", u"Component", u"C54", OneShotKind::Signal},  // PC1
    OneShotButton{"Command72", u"RGB", u"CF INPUT COMPUTER2 ANALOG", OneShotKind::Signal},  // PC2
    OneShotButton{"Command82", u"Video", u"CF INPUT VIDEO VIDEO", OneShotKind::Signal},     // Video
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
    std::string_view control;
    std::u16string_view caption;
    quint8 repeatCode;
    std::u16string_view code;  // the repeat table's code for repeatCode
    bool arrow;                // arrows take their timing from ArrowSpeedMode
    int repeatPeriod;          // Timer1 interval set at the press (not for arrows)
    ReplyTiming timing;        // set just after the first send (not for arrows)
    bool dZoomRelease;         // release also sets Timer1 to 5 ms and ArrowSpeedMode to 3
};

inline constexpr std::array kHoldButtons = {
    HoldButton{"Command1", u"+", 1, u"C09", false, 250, {200, 245}, false},   // VOL
    HoldButton{"Command2", u"-", 2, u"C0A", false, 250, {200, 245}, false},   // VOL
    HoldButton{"Command15", u"+", 7, u"C20", false, 50, {25, 25}, false},     // Brightness
    HoldButton{"Command35", u"-", 8, u"C21", false, 50, {25, 25}, false},     // Brightness
    HoldButton{"Command48", u"+", 17, u"C30", false, 250, {200, 245}, true},  // D.Zoom
    HoldButton{"Command49", u"-", 18, u"C31", false, 250, {200, 245}, true},  // D.Zoom
    HoldButton{"Command50", u"+", 19, u"C8E", false, 250, {200, 245}, false}, // Keystone
    HoldButton{"Command51", u"-", 20, u"C8F", false, 250, {200, 245}, false}, // Keystone
    HoldButton{"Command6", u"SELECT", 13, u"C3F", false, 500, {200, 245}, false},
    HoldButton{"Command5", u"↑", 3, u"C3C", true, 0, {}, false},
    HoldButton{"Command7", u"↓", 4, u"C3D", true, 0, {}, false},
    HoldButton{"Command9", u"←", 5, u"C3B", true, 0, {}, false},
    HoldButton{"Command8", u"→", 6, u"C3A", true, 0, {}, false},
};

inline constexpr int kDZoomReleaseRepeatPeriod = 5;
inline constexpr quint8 kDZoomReleaseArrowSpeedMode = 3;

// Arrow timing by ArrowSpeedMode; other modes leave the intervals alone.
std::optional<ReplyTiming> arrowTiming(quint8 arrowSpeedMode);

// The code column must agree with the repeat table it mirrors.
constexpr bool holdCodesAgree() {
    for (const HoldButton &button : kHoldButtons)
        if (button.repeatCode >= kRepeatCodes.size() || kRepeatCodes[button.repeatCode] != button.code)
            return false;
    return true;
}
static_assert(holdCodesAgree());

const OneShotButton *findOneShot(std::string_view control);
const HoldButton *findHold(std::string_view control);

}  // namespace mv70
