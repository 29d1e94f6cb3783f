// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/fonts.h"

namespace mv70::window {

void registerFontSubstitutes() {
    static const bool registered = [] {
        QFont::insertSubstitutions(QString::fromUtf8(kGothicFamily),
                                   QStringList{QStringLiteral("IPAGothic"), QStringLiteral("MS Gothic"),
                                               QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("monospace")});
        QFont::insertSubstitutions(QString::fromUtf8(kPGothicFamily),
                                   QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("MS PGothic"),
                                               QStringLiteral("Noto Sans CJK JP"), QStringLiteral("sans-serif")});
        return true;
    }();
    Q_UNUSED(registered);
}

QFont fontFor(const FontSpec &style) {
    QFont font(QString::fromUtf8(style.face == Face::PGothic ? kPGothicFamily : kGothicFamily));
    font.setPixelSize(pointsToPixels(style.points));
    font.setWeight(style.bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(style.face == Face::PGothic ? QFont::SansSerif : QFont::Monospace);
    return font;
}

}  // namespace mv70::window
