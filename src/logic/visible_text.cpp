// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/visible_text.h"

namespace mv70 {
namespace {

bool isControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool isBidiControl(char16_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

}  // namespace

QString visibleText(QStringView text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'\\')
            shown += QStringLiteral("\\\\");
        else if (isControl(c))
            shown += QStringLiteral("\\x%1").arg(int(c), 2, 16, QLatin1Char('0'));
        else if (isBidiControl(c))
            shown += QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0'));
        else
            shown += ch;
    }
    return shown;
}

}  // namespace mv70
