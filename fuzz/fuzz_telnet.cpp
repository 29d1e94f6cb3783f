// SPDX-License-Identifier: GPL-3.0-or-later
// What a network serial server sends: the Telnet/RFC 2217 reader must keep
// its memory and its answers bounded, lose no projector byte, and read a
// stream the same whatever pieces it comes in.

#include <cstdlib>

#include "logic/telnet_reader.h"

namespace {

using mv70::serial::TelnetReader;

void check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    TelnetReader whole(TelnetReader::Mode::Rfc2217);
    (void)whole.opening();
    QByteArray wholeData, wholeAnswers;
    whole.feed(input, wholeData, wholeAnswers);
    // Never more projector bytes than came in, and at most three bytes for
    // each answer allowed.
    check(wholeData.size() <= input.size());
    check(wholeAnswers.size() <= 3 * TelnetReader::kMaxAnswers);

    // The same stream in pieces: the first byte's value decides their size.
    TelnetReader pieces(TelnetReader::Mode::Rfc2217);
    (void)pieces.opening();
    QByteArray piecesData, piecesAnswers;
    const qsizetype step = size > 0 ? 1 + data[0] % 7 : 1;
    for (qsizetype at = 0; at < input.size(); at += step)
        pieces.feed(input.sliced(at, std::min(step, input.size() - at)), piecesData, piecesAnswers);
    check(piecesData == wholeData);
    check(piecesAnswers == wholeAnswers);
    check(pieces.confirmed().baudRate == whole.confirmed().baudRate);

    // Whatever the server said, the projector's bytes go out so that a
    // Telnet reader in the matching mode gets them back exactly.
    TelnetReader far(TelnetReader::Mode::Rfc2217);
    QByteArray echoed, farAnswers;
    if (whole.sendsBinary())
        far.feed(QByteArray("\xff\xfb\x00", 3), echoed, farAnswers);  // WILL BINARY from its side
    far.feed(whole.encodeData(wholeData), echoed, farAnswers);
    check(echoed == wholeData);

    // Raw TCP passes everything through.
    TelnetReader raw(TelnetReader::Mode::Raw);
    QByteArray rawData, rawAnswers;
    raw.feed(input, rawData, rawAnswers);
    check(rawData == input && rawAnswers.isEmpty());
    return 0;
}
