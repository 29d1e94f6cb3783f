// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QStringList>

#include "window/layout.h"

namespace mv70::window {

// The window's faces, "ＭＳ ゴシック" and "ＭＳ Ｐゴシック", are Windows fonts.
// Elsewhere they are mapped to Japanese Gothic faces that are there:
// IPAGothic (monospaced) and IPAPGothic (proportional).
void registerFontSubstitutes();

// The font of a control; sizes follow the geometry (points at 96 dpi).
QFont fontFor(const FontSpec &style);

inline constexpr const char *kGothicFamily = "ＭＳ ゴシック";
inline constexpr const char *kPGothicFamily = "ＭＳ Ｐゴシック";

}  // namespace mv70::window
