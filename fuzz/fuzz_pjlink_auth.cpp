// SPDX-License-Identifier: GPL-3.0-or-later
// The login: nothing but the digest of this greeting's random and the
// password lets a command through, whatever comes first on the line.

#include <cstdlib>

#include "pjlink/protocol.h"

namespace {

using mv70::pjlink::Session;

void check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QByteArray password = "JBMIAProjectorLink";
    const QByteArray random = "498e4a67";
    const QByteArray digest = mv70::pjlink::expectedDigest(random, password);

    // The constant-time comparison agrees with a plain one.
    const QByteArrayView given = input.first(std::min<qsizetype>(input.size(), 32));
    check(mv70::pjlink::digestMatches(given, digest) == (given.toByteArray().toLower() == digest));

    Session session(password, random);
    session.feed(input);
    bool firstLine = true;
    while (const std::optional<Session::Step> step = session.next()) {
        if (step->kind == Session::Step::Kind::AuthFailed) {
            check(step->reply == Session::kAuthError);
            break;  // the server closes here
        }
        if (step->kind == Session::Step::Kind::Request && firstLine) {
            // Through: some line began (after line feeds) with the digest.
            bool digestSent = false;
            for (QByteArray line : input.toByteArray().split('\r')) {
                while (line.startsWith('\n'))
                    line.remove(0, 1);
                digestSent = digestSent || line.left(32).toLower() == digest;
            }
            check(digestSent);
        }
        if (step->kind == Session::Step::Kind::Request)
            firstLine = false;
        if (step->kind == Session::Step::Kind::Request || step->kind == Session::Step::Kind::Close)
            check(session.authenticated());
    }
    return 0;
}
