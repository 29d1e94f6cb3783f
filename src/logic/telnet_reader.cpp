// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/telnet_reader.h"

namespace mv70::serial {
namespace {

constexpr std::uint8_t kNul = 0x00, kCr = 0x0D;

// Options we take on our side, and on the server's.
bool weOffer(std::uint8_t option) {
    return option == TelnetReader::kBinary || option == TelnetReader::kSuppressGoAhead
        || option == TelnetReader::kComPort;
}
bool weAccept(std::uint8_t option) {
    return option == TelnetReader::kBinary || option == TelnetReader::kSuppressGoAhead;
}

void appendEscaped(QByteArray &out, std::uint8_t byte) {
    out += static_cast<char>(byte);
    if (byte == TelnetReader::kIac)
        out += static_cast<char>(byte);
}

void appendCommand(QByteArray &out, std::uint8_t command, QByteArrayView value) {
    out += static_cast<char>(TelnetReader::kIac);
    out += static_cast<char>(TelnetReader::kSb);
    out += static_cast<char>(TelnetReader::kComPort);
    out += static_cast<char>(command);
    for (char byte : value)
        appendEscaped(out, static_cast<std::uint8_t>(byte));
    out += static_cast<char>(TelnetReader::kIac);
    out += static_cast<char>(TelnetReader::kSe);
}

}  // namespace

QByteArray TelnetReader::opening() {
    QByteArray out;
    if (mode_ == Mode::Raw)
        return out;
    const auto ask = [&out](State &state, std::uint8_t verb, std::uint8_t option) {
        if (state != State::No)
            return;
        state = State::WantYes;
        out += static_cast<char>(kIac);
        out += static_cast<char>(verb);
        out += static_cast<char>(option);
    };
    ask(us_[kBinary], kWill, kBinary);
    ask(us_[kComPort], kWill, kComPort);
    ask(him_[kBinary], kDo, kBinary);
    return out;
}

void TelnetReader::feed(QByteArrayView bytes, QByteArray &data, QByteArray &answers) {
    if (mode_ == Mode::Raw) {
        data += bytes;
        return;
    }
    for (char byte : bytes)
        feedTelnet(static_cast<std::uint8_t>(byte), data, answers);
}

void TelnetReader::feedTelnet(std::uint8_t byte, QByteArray &data, QByteArray &answers) {
    switch (read_) {
    case Read::CrNul:
        // Without binary mode a server sends a carriage return as CR NUL.
        read_ = Read::Data;
        if (byte == kNul)
            return;
        [[fallthrough]];
    case Read::Data:
        if (byte == kIac) {
            read_ = Read::Iac;
        } else {
            data += static_cast<char>(byte);
            if (byte == kCr && him_[kBinary] != State::Yes)
                read_ = Read::CrNul;
        }
        return;
    case Read::Iac:
        if (byte == kIac) {
            data += static_cast<char>(byte);
            read_ = Read::Data;
        } else if (byte >= kWill && byte <= kDont) {
            verb_ = byte;
            read_ = Read::Option;
        } else if (byte == kSb) {
            sbSize_ = 0;
            sbOverflow_ = false;
            read_ = Read::Sb;
        } else {
            read_ = Read::Data;  // NOP, GA, AYT and the like: nothing to do on a serial line
        }
        return;
    case Read::Option:
        negotiate(verb_, byte, answers);
        read_ = Read::Data;
        return;
    case Read::Sb:
        if (byte == kIac) {
            read_ = Read::SbIac;
            return;
        }
        break;
    case Read::SbIac:
        if (byte == kSe) {
            endSubnegotiation();
            read_ = Read::Data;
            return;
        }
        if (byte != kIac) {
            // Not a valid end: the subnegotiation is dropped and the byte read as a command.
            read_ = Read::Iac;
            feedTelnet(byte, data, answers);
            return;
        }
        read_ = Read::Sb;
        break;  // a doubled 0xFF inside the subnegotiation
    }
    if (sbSize_ < kMaxSubnegotiation)
        sb_[static_cast<std::size_t>(sbSize_++)] = byte;
    else
        sbOverflow_ = true;
}

void TelnetReader::answer(QByteArray &answers, std::uint8_t verb, std::uint8_t option) {
    if (answersLeft_ <= 0)
        return;
    --answersLeft_;
    answers += static_cast<char>(kIac);
    answers += static_cast<char>(verb);
    answers += static_cast<char>(option);
}

void TelnetReader::negotiate(std::uint8_t verb, std::uint8_t option, QByteArray &answers) {
    // The server asks about our side (DO/DONT) or tells about its own
    // (WILL/WONT). We answer only what changes a state, and refuse an option
    // we do not know once, so that no exchange can go on for ever.
    const bool aboutUs = verb == kDo || verb == kDont;
    const bool enable = verb == kDo || verb == kWill;
    State &state = aboutUs ? us_[option] : him_[option];
    const std::uint8_t yes = aboutUs ? kWill : kDo;
    const std::uint8_t no = aboutUs ? kWont : kDont;
    if (enable) {
        if (state == State::Yes)
            return;
        if (state == State::WantYes) {
            state = State::Yes;
            return;
        }
        if (aboutUs ? weOffer(option) : weAccept(option)) {
            state = State::Yes;
            answer(answers, yes, option);
            return;
        }
        const std::uint8_t bit = aboutUs ? 1 : 2;
        if ((refused_[option] & bit) == 0) {
            refused_[option] |= bit;
            answer(answers, no, option);
        }
        return;
    }
    if (state == State::Yes)
        answer(answers, no, option);
    state = State::No;
    // A server that answers our offer of the COM port option with WONT
    // rather than DONT refuses it all the same: nothing more to wait for.
    if (option == kComPort && verb == kWont && us_[kComPort] == State::WantYes)
        us_[kComPort] = State::No;
}

void TelnetReader::endSubnegotiation() {
    if (sbOverflow_ || sbSize_ < 2 || sb_[0] != kComPort)
        return;
    const std::uint8_t code = sb_[1];
    const std::uint8_t *value = sb_.data() + 2;
    const int size = sbSize_ - 2;
    if (code == kServerOffset + kSetBaudRate && size == 4) {
        const quint32 baud = quint32{value[0]} << 24 | quint32{value[1]} << 16 | quint32{value[2]} << 8 | value[3];
        confirmed_.baudRate = baud <= 0x7FFFFFFF ? static_cast<qint32>(baud) : 0;
        ++confirmed_.baudReplies;
    } else if (size == 1) {
        switch (code) {
        case kServerOffset + kSetDataSize:
            confirmed_.dataSize = value[0];
            break;
        case kServerOffset + kSetParity:
            confirmed_.parity = value[0];
            break;
        case kServerOffset + kSetStopSize:
            confirmed_.stopSize = value[0];
            break;
        case kServerOffset + kSetControl:
            confirmed_.control = value[0];
            break;
        default:
            break;  // line and modem state notices, flow control: nothing for us
        }
    }
}

QByteArray TelnetReader::encodeData(QByteArrayView bytes) const {
    if (mode_ == Mode::Raw)
        return bytes.toByteArray();
    QByteArray out;
    out.reserve(bytes.size() + 8);
    const bool binary = sendsBinary();
    for (char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        appendEscaped(out, byte);
        if (byte == kCr && !binary)
            out += static_cast<char>(kNul);
    }
    return out;
}

QByteArray TelnetReader::encodeSettings(const LineSettings &settings) const {
    QByteArray out;
    if (mode_ == Mode::Raw)
        return out;
    const auto baud = static_cast<quint32>(settings.baudRate);
    const char baudBytes[] = {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                              static_cast<char>(baud >> 8), static_cast<char>(baud)};
    appendCommand(out, kSetBaudRate, QByteArrayView(baudBytes, 4));
    appendCommand(out, kSetDataSize, QByteArray(1, static_cast<char>(settings.dataBits)));
    int parity = 1;
    switch (settings.parity) {
    case LineSettings::Parity::None:
        parity = 1;
        break;
    case LineSettings::Parity::Odd:
        parity = 2;
        break;
    case LineSettings::Parity::Even:
        parity = 3;
        break;
    case LineSettings::Parity::Mark:
        parity = 4;
        break;
    case LineSettings::Parity::Space:
        parity = 5;
        break;
    }
    appendCommand(out, kSetParity, QByteArray(1, static_cast<char>(parity)));
    int stop = 1;
    switch (settings.stopBits) {
    case LineSettings::StopBits::One:
        stop = 1;
        break;
    case LineSettings::StopBits::Two:
        stop = 2;
        break;
    case LineSettings::StopBits::OneAndHalf:
        stop = 3;
        break;
    }
    appendCommand(out, kSetStopSize, QByteArray(1, static_cast<char>(stop)));
    appendCommand(out, kSetControl, QByteArray(1, 1));  // no flow control, as on a local port
    return out;
}

}  // namespace mv70::serial
