// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The byte stream of a port behind a network serial server.
//
// Raw TCP carries the projector's bytes as they are. Telnet with the COM
// port control option (RFC 2217) interleaves them with negotiation: 0xFF
// (IAC) starts a command, a projector byte 0xFF travels doubled, and the line
// settings travel as subnegotiations of option 44. TelnetReader takes the
// bytes from the server apart (the projector's bytes on one side, the
// answers negotiation calls for on the other) and builds what goes to the
// server. It holds no more than a few dozen bytes of its own whatever the
// server sends, and answers each option at most a few times, so a server
// that talks only negotiation costs bounded memory and output.

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>

#include "logic/line_settings.h"

namespace mv70::serial {

class TelnetReader {
public:
    enum class Mode { Raw, Rfc2217 };

    // Telnet commands and options used here.
    static constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
    static constexpr std::uint8_t kBinary = 0, kEcho = 1, kSuppressGoAhead = 3, kComPort = 44;
    // COM port control commands from the client; the server answers with the same code plus 100.
    static constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                                  kServerOffset = 100;
    // Subnegotiation bytes kept; a longer one is dropped whole.
    static constexpr int kMaxSubnegotiation = 64;
    // Negotiation answers per connection; beyond that the server is ignored.
    static constexpr int kMaxAnswers = 64;

    // The settings as the server last confirmed them (0: not confirmed).
    struct Confirmed {
        qint32 baudRate = 0;
        int dataSize = 0;
        int parity = 0;           // 1 none, 2 odd, 3 even, 4 mark, 5 space
        int stopSize = 0;         // 1 one, 2 two, 3 one and a half
        int control = 0;          // 1 no flow control
        quint32 baudReplies = 0;  // speed confirmations so far (wraps)
    };

    explicit TelnetReader(Mode mode = Mode::Raw) : mode_(mode) {}

    Mode mode() const { return mode_; }

    // What the client says first: binary both ways and the COM port option.
    QByteArray opening();

    // Takes apart bytes from the server: the projector's bytes are appended
    // to `data`, answers for the server to `answers`.
    void feed(QByteArrayView bytes, QByteArray &data, QByteArray &answers);

    // The projector's bytes as they go to the server.
    QByteArray encodeData(QByteArrayView bytes) const;

    // The line settings as COM port commands; empty in raw mode.
    QByteArray encodeSettings(const LineSettings &settings) const;

    // The server has agreed to the COM port option (settings may be sent),
    // or refused it: in either case there is nothing more to wait for.
    bool comPortAgreed() const { return us_[kComPort] == State::Yes; }
    bool comPortSettled() const { return mode_ == Mode::Raw || us_[kComPort] != State::WantYes; }

    // The server agreed to take our bytes in binary mode (no CR NUL).
    bool sendsBinary() const { return us_[kBinary] == State::Yes; }

    const Confirmed &confirmed() const { return confirmed_; }

private:
    enum class Read : std::uint8_t { Data, Iac, Option, Sb, SbIac, CrNul };
    enum class State : std::uint8_t { No, Yes, WantYes };

    void feedTelnet(std::uint8_t byte, QByteArray &data, QByteArray &answers);
    void negotiate(std::uint8_t verb, std::uint8_t option, QByteArray &answers);
    void answer(QByteArray &answers, std::uint8_t verb, std::uint8_t option);
    void endSubnegotiation();

    Mode mode_;
    Read read_ = Read::Data;
    std::uint8_t verb_ = 0;                    // the WILL/WONT/DO/DONT whose option comes next
    std::array<State, 256> us_{};              // options on our side
    std::array<State, 256> him_{};             // options on the server's side
    std::array<std::uint8_t, 256> refused_{};  // bit 0: a DO refused, bit 1: a WILL refused
    int answersLeft_ = kMaxAnswers;
    std::array<std::uint8_t, kMaxSubnegotiation> sb_{};
    int sbSize_ = 0;
    bool sbOverflow_ = false;
    Confirmed confirmed_;
};

}  // namespace mv70::serial
