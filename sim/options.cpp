// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/options.h"

#include <QCommandLineParser>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <type_traits>

namespace mv70::sim {

void complain(const QString &message) { std::fprintf(stderr, "mv70-sim: %s\n", qPrintable(message)); }

std::optional<Options> parseOptions(const QCoreApplication &app) {
    Options options;
    // Numeric options: name, value name, help, range, where the value goes.
    const auto into = [](auto &target) {
        return [&target](qint64 value) { target = static_cast<std::remove_reference_t<decltype(target)>>(value); };
    };
    constexpr qint64 kTenMinutes = 600'000;
    struct Number {
        const char *name;
        const char *valueName;
        const char *help;
        qint64 low, high;
        std::function<void(qint64)> set;
    };
    const Number numbers[] = {
        {"countdown", "ms", "Count-down after power on, in ms (default 3000).", 0, kTenMinutes,
         into(options.model.countDownMs)},
        {"cooling", "ms", "Cooling-down after power off, in ms (default 3000).", 0, kTenMinutes,
         into(options.model.coolingDownMs)},
        {"lamp-hours", "hours", "Lamp hours at start (default 1234).", 0, 99'999, into(options.model.lampHours)},
        {"hour", "ms", "Lamp-on time that counts as one lamp hour, in ms (default 3600000).", 1, 3'600'000,
         into(options.model.msPerLampHour)},
        {"pressure", "hPa", "Air pressure the sensor reads, in hPa (default 1013).", 0, 7000,
         into(options.model.pressureHpa)},
        {"delay", "ms", "Wait before each reply, in ms (default 0).", 0, kTenMinutes, into(options.delayMs)},
        {"split", "n", "Send replies in pieces of <n> bytes (default: whole).", 0, 1000, into(options.split)},
        {"gap", "ms", "Gap between pieces, in ms (default 50).", 0, kTenMinutes, into(options.gapMs)},
        {"noise-period", "ms", "Time between bursts of noise, in ms (default 250).", 1, kTenMinutes,
         into(options.noisePeriodMs)},
        {"seed", "n", "Seed of the noise, for a repeatable run.", 0, std::numeric_limits<quint32>::max(),
         [&](qint64 value) { options.seed = static_cast<quint32>(value); }},
    };
    const auto option = [](const char *name, const char *help, const char *valueName = nullptr) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                  valueName ? QString::fromLatin1(valueName) : QString());
    };
    const QCommandLineOption link = option("link", "Also make <path> a symlink to the device.", "path");
    const QCommandLineOption baud = option("baud", "Line speed: 19200 (default) or 9600.", "bit/s");
    const QCommandLineOption reversal =
        option("reversal", "Picture reversal: 11 normal (default), 10, 01 or 00.", "code");
    const QCommandLineOption lampMode = option("lamp-mode", "Lamps in use: dual (default), no1 or no2.", "mode");
    const QCommandLineOption silent = option("silent", "Never answer.");
    const QCommandLineOption noise = option("noise", "Send random bytes (0x00 to 0xFF) between replies.");
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Log every command and reply on standard error."));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated MV70 projector on a pseudo-terminal. Prints the device path for the panel "
                       "(MV70_COM1=<path> mv70-control) and answers its commands until it is stopped."));
    parser.addHelpOption();
    // --version alone: -v is --verbose.
    const QCommandLineOption version = option("version", "Show the version and end.");
    parser.addOptions({link, baud, reversal, lampMode, silent, noise, verbose, version});
    for (const Number &number : numbers)
        parser.addOption(option(number.name, number.help, number.valueName));
    parser.process(app);
    if (parser.isSet(version)) {
        std::printf("mv70-sim %s\n", MV70_VERSION);
        std::exit(0);
    }

    bool ok = true;
    const auto refuse = [&](const QString &why) {
        complain(why);
        ok = false;
    };
    if (!parser.positionalArguments().isEmpty())
        refuse(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    for (const Number &number : numbers) {
        const QString name = QString::fromLatin1(number.name);
        if (!parser.isSet(name))
            continue;
        bool parsed = false;
        const qint64 value = parser.value(name).toLongLong(&parsed);
        if (parsed && value >= number.low && value <= number.high)
            number.set(value);
        else
            refuse(QStringLiteral("--%1 takes a number from %2 to %3").arg(name).arg(number.low).arg(number.high));
    }
    if (parser.isSet(baud)) {
        options.baud = parser.value(baud).toInt();
        if (options.baud != 9600 && options.baud != 19200)
            refuse(QStringLiteral("--baud takes 19200 or 9600"));
    }
    if (parser.isSet(reversal)) {
        options.model.reversal = parser.value(reversal).toLatin1();
        if (!QList<QByteArray>{"11", "10", "01", "00"}.contains(options.model.reversal))
            refuse(QStringLiteral("--reversal takes 11, 10, 01 or 00"));
    }
    if (parser.isSet(lampMode)) {
        const QString mode = parser.value(lampMode);
        if (mode == u"dual")
            options.model.lampMode = LampMode::Dual;
        else if (mode == u"no1")
            options.model.lampMode = LampMode::No1;
        else if (mode == u"no2")
            options.model.lampMode = LampMode::No2;
        else
            refuse(QStringLiteral("--lamp-mode takes dual, no1 or no2"));
    }
    options.link = parser.value(link);
    options.silent = parser.isSet(silent);
    options.noise = parser.isSet(noise);
    options.verbose = parser.isSet(verbose);
    if (!ok)
        return std::nullopt;
    return options;
}

}  // namespace mv70::sim
