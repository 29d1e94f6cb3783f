// SPDX-License-Identifier: GPL-3.0-or-later
// What a PJLink controller (or anyone on the network) sends: the line
// cutter must read a stream the same whatever pieces it comes in, keep its
// memory bounded, and every answer must be one well-formed reply line.

#include <array>
#include <cstdlib>

#include "pjlink/mapping.h"
#include "pjlink/protocol.h"

namespace {

using mv70::pjlink::Session;

void check(bool condition) {
    if (!condition)
        std::abort();
}

// One reply line: '%', the request's class, four upper-case letters or
// digits, '=', a body without control characters, one CR at the end.
void checkReply(const QByteArray &reply, char pjlinkClass) {
    check(reply.size() >= 8 && reply.size() <= 8 + 64 + 1);
    check(reply[0] == '%' && reply[1] == pjlinkClass && reply[6] == '=');
    for (qsizetype i = 2; i < 6; ++i)
        check((reply[i] >= 'A' && reply[i] <= 'Z') || (reply[i] >= '0' && reply[i] <= '9'));
    check(reply.endsWith('\r') && reply.count('\r') == 1 && !reply.contains('\n'));
}

QByteArrayList steps(Session &session) {
    QByteArrayList out;
    while (const std::optional<Session::Step> step = session.next()) {
        switch (step->kind) {
        case Session::Step::Kind::Request:
            out += "request " + QByteArray(1, step->request.pjlinkClass) + step->request.command + ' '
                 + step->request.parameter + (step->request.separatorMissing ? " nosep" : "");
            check(step->request.parameter.size() <= mv70::pjlink::kMaxLine);
            break;
        case Session::Step::Kind::Reply:
            out += step->reply;
            break;
        case Session::Step::Kind::AuthFailed:
            out += "auth failed";
            break;
        case Session::Step::Kind::Close:
            out += "close";
            break;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    Session whole({}, {});
    whole.feed(input);
    Session pieces({}, {});
    const qsizetype step = size > 0 ? 1 + data[0] % 7 : 1;
    for (qsizetype at = 0; at < input.size(); at += step)
        pieces.feed(input.sliced(at, std::min(step, input.size() - at)));
    check(steps(whole) == steps(pieces));

    // Every request gets one reply line in every state.
    mv70::bridge::ProjectorState on;
    on.lineUp = true;
    on.power = mv70::bridge::Power::On;
    on.lampHours = 99999;
    const mv70::bridge::ProjectorState lost;
    const mv70::pjlink::Identity identity{QByteArray(64, 'n'), "mv70-bridge " MV70_VERSION};
    Session session({}, {});
    session.feed(input);
    while (const std::optional<Session::Step> next = session.next()) {
        if (next->kind == Session::Step::Kind::Reply)
            checkReply(next->reply, next->reply[1]);
        if (next->kind != Session::Step::Kind::Request)
            continue;
        for (const mv70::bridge::ProjectorState *state :
             std::array<const mv70::bridge::ProjectorState *, 2>{&on, &lost}) {
            const mv70::pjlink::Plan plan = mv70::pjlink::plan(next->request, *state, identity);
            if (plan.codes.isEmpty())
                checkReply(plan.reply, next->request.pjlinkClass);
            else
                check(state->lineUp && plan.codes.size() <= 2);
        }
    }
    return 0;
}
