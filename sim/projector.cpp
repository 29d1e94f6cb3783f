// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/projector.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace mv70::sim {
namespace {

using namespace std::string_view_literals;

// Operation commands that are acknowledged and change nothing the queries
// report: volume, picture modes, menu and cursor, brightness, zoom,
// keystone, freeze, timers and the rest of the remote control.
constexpr std::string_view kPlainOperations[] = {
    "C02"sv, "C09"sv, "C0A"sv, "C0F"sv, "C10"sv, "C11"sv, "C12"sv, "C13"sv, "C14"sv, "C15"sv,
    "C16"sv, "C17"sv, "C18"sv, "C19"sv, "C1C"sv, "C1D"sv, "C1E"sv, "C20"sv, "C21"sv, "C27"sv,
    "C30"sv, "C31"sv, "C3A"sv, "C3B"sv, "C3C"sv, "C3D"sv, "C3E"sv, "C3F"sv, "C43"sv, "C44"sv,
    "C4A"sv, "C4B"sv, "C5D"sv, "C5E"sv, "C5F"sv, "C60"sv, "C89"sv, "C8A"sv, "C8E"sv, "C8F"sv,
};

// Commands that select an input: '1' computer 1, '2' computer 2, '3' video.
// The signal types of computer 1 select that input too.
struct InputCommand {
    std::string_view command;
    char input;
};
constexpr InputCommand kInputCommands[] = {
    {"C05"sv, '1'},
    {"C06"sv, '2'},
    {"C07"sv, '3'},
    {"C50"sv, '1'},
    {"C51"sv, '1'},
    {"C54"sv, '1'},
    {"CF INPUT COMPUTER2 ANALOG"sv, '2'},
    {"CF INPUT VIDEO VIDEO"sv, '3'},
};

constexpr QByteArrayView kIdentity = "MV70 SIMULATOR";

bool is(QByteArrayView command, std::string_view code) {
    return command == QByteArrayView(code.data(), static_cast<qsizetype>(code.size()));
}

QByteArray twoCharacters(char first, char second) {
    const char text[] = {first, second};
    return QByteArray(text, 2);
}

// One temperature in a five-character field: " 25.0", "-3.5".
QByteArray temperatureField(double celsius) {
    return QByteArray::number(std::clamp(celsius, -9.9, 99.9), 'f', 1).rightJustified(5, ' ');
}

}  // namespace

Projector::Projector(ProjectorSettings settings, qint64 nowMs) : settings_(std::move(settings)), clockMs_(nowMs) {
    temperatures_.fill(kAmbient);
}

int Projector::pressureReading(int hectopascals) {
    // The panel shows ((5 * reading / 1024) - 0.204) / 0.00459 + 150 hPa.
    return static_cast<int>(std::lround(((hectopascals - 150) * 0.00459 + 0.204) * 1024 / 5));
}

Power Projector::power(qint64 nowMs) {
    advanceTo(nowMs);
    return power_;
}

void Projector::advanceTo(qint64 nowMs) {
    for (;;) {
        const bool timed = power_ == Power::CountDown || power_ == Power::CoolingDown;
        if (timed && stateEndsMs_ <= clockMs_) {
            power_ = power_ == Power::CountDown ? Power::On : Power::Standby;
            continue;
        }
        if (clockMs_ >= nowMs)
            return;
        const qint64 until = timed ? std::min(nowMs, stateEndsMs_) : nowMs;
        runFor(until - clockMs_);
        clockMs_ = until;
    }
}

void Projector::runFor(qint64 ms) {
    if (lampLit())
        litMs_ += ms;
    // Each sensor approaches its running temperature while the lamp is lit,
    // and the room's once it is out.
    const double remaining = std::exp(-static_cast<double>(ms) / kTemperatureTimeConstantMs);
    for (std::size_t i = 0; i < temperatures_.size(); ++i) {
        const double target = lampLit() ? kRunning[i] : kAmbient;
        temperatures_[i] = target + (temperatures_[i] - target) * remaining;
    }
}

QByteArray Projector::answer(QByteArrayView command, qint64 nowMs) {
    advanceTo(nowMs);
    if (QByteArray reply = query(command); !reply.isEmpty())
        return reply;
    if (operate(command))
        return QByteArray(1, kAck);
    return kError;
}

bool Projector::operate(QByteArrayView command) {
    if (is(command, "C00")) {
        if (power_ == Power::Standby) {
            power_ = Power::CountDown;
            stateEndsMs_ = clockMs_ + settings_.countDownMs;
            advanceTo(clockMs_);  // a count-down of 0 ms is over at once
        }
        return true;
    }
    if (is(command, "C01")) {
        if (power_ == Power::On || power_ == Power::CountDown) {
            power_ = Power::CoolingDown;
            stateEndsMs_ = clockMs_ + settings_.coolingDownMs;
            advanceTo(clockMs_);
        }
        return true;
    }
    if (is(command, "C0B") || is(command, "C0C")) {  // sound mute on, off
        audioMute_ = is(command, "C0B");
        return true;
    }
    if (is(command, "C0D") || is(command, "C0E")) {  // no show (picture mute) on, off
        videoMute_ = is(command, "C0D");
        return true;
    }
    for (const InputCommand &row : kInputCommands) {
        if (is(command, row.command)) {
            input_ = row.input;
            return true;
        }
    }
    return std::ranges::any_of(kPlainOperations, [&](std::string_view code) { return is(command, code); });
}

QByteArray Projector::query(QByteArrayView command) const {
    QByteArray reply;
    if (is(command, "CR0")) {
        switch (power_) {
        case Power::On:
            reply = "00";
            break;
        case Power::Standby:
            reply = "80";
            break;
        case Power::CountDown:
            reply = "40";
            break;
        case Power::CoolingDown:
            reply = "20";
            break;
        }
    } else if (is(command, "CR1")) {
        reply = QByteArray(1, input_);
    } else if (is(command, "CR3")) {
        reply = QByteArray::number(settings_.lampHours + litMs_ / settings_.msPerLampHour);
    } else if (is(command, "CR4")) {
        reply = settings_.reversal;
    } else if (is(command, "CR6")) {
        reply = temperatureField(temperatures_[0]) + ',' + temperatureField(temperatures_[1]) + ','
              + temperatureField(temperatures_[2]);
    } else if (is(command, "CR7")) {
        const char mode = settings_.lampMode == LampMode::Dual ? '0' : settings_.lampMode == LampMode::No1 ? '1' : '2';
        const char lit = !lampLit() ? '0' : settings_.lampMode == LampMode::Dual ? '3' : mode;
        reply = twoCharacters(mode, lit);
    } else if (is(command, "CR9")) {
        reply = kIdentity.toByteArray();
    } else if (is(command, "CRA")) {
        if (power_ == Power::On)
            reply = twoCharacters('0', static_cast<char>('0' + (videoMute_ ? 1 : 0) + (audioMute_ ? 2 : 0)));
        else
            reply = "FF";
    } else if (is(command, "CR PRESSURE")) {
        reply = QByteArray::number(pressureReading(settings_.pressureHpa));
    } else {
        return {};
    }
    return reply + kCR;
}

QList<QByteArray> CommandReader::feed(QByteArrayView bytes) {
    QList<QByteArray> commands;
    for (const char byte : bytes) {
        if (byte == Projector::kCR) {
            commands.append(std::exchange(pending_, {}));
        } else if (byte != '\n' && pending_.size() <= kMaxCommand) {
            pending_.append(byte);
        }
    }
    return commands;
}

}  // namespace mv70::sim
