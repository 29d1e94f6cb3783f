// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window as data: every control with its container, caption, place and
// look, in twips as the form was designed (15 twips to the pixel at 96 dpi).

#include <QtGlobal>

#include <array>
#include <string_view>

namespace mv70::window {

enum class Kind { Frame, Label, Button, Option, TextBox, Image };
enum class Face { Window, Gothic, PGothic };  // Window: the control uses the window's font
enum class Align { Left, Right, Centre };

struct FontSpec {
    Face face;
    double points;
    bool bold;
};
inline constexpr FontSpec kWindowFont{Face::Window, 0, false};
inline constexpr FontSpec kNoFont = kWindowFont;  // frames and the logo show no text

// Colours are 0xRRGGBB; these stand for the platform's own.
inline constexpr quint32 kNoColour = 0xFF000000;        // nothing painted
inline constexpr quint32 kButtonFace = 0xFE000000;      // the standard button colour
inline constexpr quint32 kTextBackground = 0xFD000000;  // the standard text-box colour

struct ControlSpec {
    std::string_view name;
    Kind kind;
    const char *parent;   // nullptr: the window itself
    const char *caption;  // UTF-8
    // What the control does, in words: its name for assistive technology
    // (screen readers). Empty for labels, whose name is their caption, and
    // for the monitor lines, whose name is the text they show.
    const char *meaning;
    int left, top, width, height;
    quint32 back;
    quint32 text;
    FontSpec font;
    Align align;
    bool sunken;  // single sunken border
    int tab;      // -1: takes no part in the tab order
    bool visible;
    bool marked;  // options only
};

extern const std::array<ControlSpec, 96> kControls;
const ControlSpec *findControl(std::string_view name);

// Labels that caption the control beside them: assistive technology reads
// the caption as the control's label ("STATUS" labels the status line).
struct CaptionFor {
    std::string_view label;
    std::string_view control;
};
inline constexpr std::array kCaptionsFor = {
    CaptionFor{"Label9", "Label11"},   // TXD
    CaptionFor{"Label10", "Label12"},  // RXD
    CaptionFor{"Label23", "Label22"},  // STATUS
    CaptionFor{"Label26", "Text1"},    // CMD
};

// The outline of the cursor pad, drawn on the window beneath every control.
struct LineSpec {
    std::string_view name;
    int x1, y1, x2, y2;
};
extern const std::array<LineSpec, 12> kLines;
inline constexpr int kLineWidthPixels = 2;
inline constexpr quint32 kLineColour = 0x8080FF;

// The timers and their start intervals: kTimers in form1.cpp, from the
// start timings of logic/command_table.h.

// The window itself.
inline constexpr const char *kTitle = "OLVA   MV70  CONTROL   Ver.1.40";
inline constexpr int kClientWidth = 9495;
inline constexpr quint32 kWindowBack = 0xC0C0C0;
inline constexpr FontSpec kFormFont{Face::Gothic, 9, false};

// Heights. The window is sized by its client area; the outer heights (with
// 370 twips of title bar and borders) are kept for reference.
struct WindowHeight {
    int outer;
    int client;
};
inline constexpr int kTitleAndBorders = 370;
inline constexpr WindowHeight CompactHeight{5350, 4980};   // the main area
inline constexpr WindowHeight DataViewHeight{6645, 6275};  // and the data band
inline constexpr WindowHeight ArmedHeight{7200, 6830};     // and the top edge of Frame14
inline constexpr WindowHeight FullHeight{9100, 8730};      // everything
inline constexpr int DataViewThreshold = 6000;             // outer height
inline constexpr int kDataViewClientThreshold = DataViewThreshold - kTitleAndBorders;

constexpr int twipsToPixels(int twips) { return (2 * twips + 15) / 30; }  // rounded to nearest
constexpr int pointsToPixels(double points) { return static_cast<int>(points * 96 / 72 + 0.5); }

}  // namespace mv70::window
