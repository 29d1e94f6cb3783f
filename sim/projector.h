// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulated MV70: the projector's side of the line as a model, without
// any input or output of its own. The caller passes the time (milliseconds
// on any clock that never goes back), so the same commands at the same
// moments always get the same answers. docs/simulator.md describes the
// model: its states and timings, the commands it knows and every reply.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <array>

namespace mv70::sim {

enum class Power { Standby, CountDown, On, CoolingDown };

// Which lamps the projector uses: both, or only lamp 1 or lamp 2.
enum class LampMode { Dual, No1, No2 };

struct ProjectorSettings {
    qint64 countDownMs = 3000;         // from power on until the picture is up
    qint64 coolingDownMs = 3000;       // from power off until stand-by
    int lampHours = 1234;              // lamp hours at start
    qint64 msPerLampHour = 3'600'000;  // lamp-on time that adds one hour
    QByteArray reversal = "11";        // picture reversal: "11", "10", "01" or "00"
    LampMode lampMode = LampMode::Dual;
    int pressureHpa = 1013;  // air pressure the sensor reads
};

class Projector {
public:
    static constexpr char kAck = 0x06;
    static constexpr char kCR = '\r';
    static inline const QByteArray kError = QByteArrayLiteral("ERR\r");

    explicit Projector(ProjectorSettings settings = {}, qint64 nowMs = 0);

    // Answers one command, given without its carriage return. Every command
    // gets an answer: a query its reply, a known operation the acknowledge
    // byte, anything else kError.
    QByteArray answer(QByteArrayView command, qint64 nowMs);

    Power power(qint64 nowMs);

    // The raw reading of the pressure sensor that stands for `hectopascals`.
    static int pressureReading(int hectopascals);

    // Temperatures of the three sensors, in degrees Celsius.
    static constexpr double kAmbient = 25.0;
    static constexpr std::array<double, 3> kRunning = {35.0, 48.0, 41.0};
    static constexpr double kTemperatureTimeConstantMs = 20'000;

private:
    void advanceTo(qint64 nowMs);
    void runFor(qint64 ms);
    bool lampLit() const { return power_ == Power::CountDown || power_ == Power::On; }
    bool operate(QByteArrayView command);
    QByteArray query(QByteArrayView command) const;

    ProjectorSettings settings_;
    qint64 clockMs_;
    Power power_ = Power::Standby;
    qint64 stateEndsMs_ = 0;  // end of the count-down or the cooling-down
    qint64 litMs_ = 0;        // lamp-on time since start
    char input_ = '1';        // '1' computer 1, '2' computer 2, '3' video
    bool videoMute_ = false;
    bool audioMute_ = false;
    std::array<double, 3> temperatures_;
};

// Cuts what arrives on the line into commands at each carriage return.
// Line feeds are dropped, so a terminal that ends lines with CR LF is
// understood too. A command longer than kMaxCommand is not understood: only
// its first kMaxCommand + 1 bytes are kept, so memory stays bounded however
// long a line without a carriage return runs.
class CommandReader {
public:
    static constexpr qsizetype kMaxCommand = 64;
    QList<QByteArray> feed(QByteArrayView bytes);

private:
    QByteArray pending_;
};

}  // namespace mv70::sim
