// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turns the fuzzer's bytes into the texts the program meets.

#include <QString>

#include <cstddef>
#include <cstdint>

namespace mv70::fuzz {

// As the line delivers them: one character per byte, 0x00 to 0xFF.
inline QString fromLine(const std::uint8_t *data, std::size_t size) {
    return QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// Any UTF-16 text, unpaired surrogates included: what an operator can
// type or paste.
inline QString anyText(const std::uint8_t *data, std::size_t size) {
    QString text(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8));
    return text;
}

}  // namespace mv70::fuzz
