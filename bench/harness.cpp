// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-bench: runs the real window in this process against a pseudo-terminal
// peer that stamps every byte, drives it with mouse events through Qt's
// platform path, and prints what it measured as Markdown. Lines that start
// with "GOAL|" carry one goal each for the summary: id|goal|measured|verdict.
//
//   mv70-bench press|repeat|reply|network|cost-idle|cost-hold [--seconds S] [--samples N]
//   mv70-bench cost-stream [--compact] [--seconds S] [--log FILE]
//   mv70-bench startup --probe PATH [--runs N]
//   mv70-bench smoke            a few seconds of everything, for the test suite
//
// A scenario lives in a file of its own (scenario_*.cpp, declared in
// scenarios.h) and is listed once, in kScenarios below.

#include <QApplication>
#include <QStringList>
#include <QStyleFactory>

#include <cstdio>
#include <functional>
#include <optional>

#include "network_latency.h"
#include "report.h"
#include "scenarios.h"

using namespace bench;

namespace {

// The command line after the scenario's name.
struct Arguments {
    QStringList args;

    // The value after `name`, if there is one.
    std::optional<QString> text(const char *name) const {
        const qsizetype at = args.indexOf(QLatin1String(name));
        if (at < 0 || at + 1 >= args.size())
            return std::nullopt;
        return args[at + 1];
    }
    // The number after `name`; `fallback` when it is missing or 0.
    int number(const char *name, int fallback) const {
        const int value = text(name).value_or(QString()).toInt();
        return value ? value : fallback;
    }
    bool flag(const char *name) const { return args.contains(QLatin1String(name)); }
};

struct Scenario {
    const char *name;
    const char *options;          // for the usage line
    const char *needs = nullptr;  // an option without which it cannot run
    // The measurement as asked for, or a few seconds of it for `smoke`.
    std::function<void(const Arguments &, bool smoke)> run;
};

const Scenario kScenarios[] = {
    {"press", "[--samples N]", nullptr,
     [](const Arguments &a, bool smoke) { pressToWire(smoke ? 3 : a.number("--samples", 100)); }},
    {"repeat", "[--seconds S]", nullptr,
     [](const Arguments &a, bool smoke) { repeatTiming(smoke ? 1 : a.number("--seconds", 10)); }},
    {"reply", "[--samples N]", nullptr,
     [](const Arguments &a, bool smoke) { replyToScreen(smoke ? 2 : a.number("--samples", 30)); }},
    {"network", "[--samples N]", nullptr,
     [](const Arguments &a, bool smoke) {
         check(networkLatency(out, smoke ? 2 : a.number("--samples", 30)),
               QStringLiteral("a command or reply through ser2net went astray"));
     }},
    {"cost-idle", "[--seconds S]", nullptr,
     [](const Arguments &a, bool smoke) { costIdle(smoke ? 1 : a.number("--seconds", 30)); }},
    {"cost-hold", "[--seconds S]", nullptr,
     [](const Arguments &a, bool smoke) { costHold(smoke ? 1 : a.number("--seconds", 30)); }},
    {"cost-stream", "[--compact] [--seconds S] [--log FILE]", nullptr,
     [](const Arguments &a, bool smoke) {
         costStream(smoke ? 2 : a.number("--seconds", 30), smoke || !a.flag("--compact"));
     }},
    // In the smoke run only when a probe is named.
    {"startup", "--probe PATH [--runs N]", "--probe",
     [](const Arguments &a, bool smoke) {
         if (const std::optional<QString> probe = a.text("--probe"))
             startup(*probe, smoke ? 2 : a.number("--runs", 20));
     }},
};

void usage() {
    for (const Scenario &scenario : kScenarios)
        std::fprintf(stderr, "usage: mv70-bench %s %s\n", scenario.name, scenario.options);
    std::fprintf(stderr, "       mv70-bench smoke [--probe PATH]   a few seconds of each, for the test suite\n");
}

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QStringList args = QApplication::arguments();
    const QString name = args.value(1);
    const Arguments arguments{args.mid(2)};
    // The exchange log on, to measure what it costs (MV70_LOG, as for the program).
    if (const qsizetype at = args.indexOf(QStringLiteral("--log")); at >= 0 && at + 1 < args.size())
        qputenv("MV70_LOG", args[at + 1].toLocal8Bit());

    if (name == u"smoke") {
        for (const Scenario &scenario : kScenarios)
            scenario.run(arguments, true);
    } else {
        const Scenario *chosen = nullptr;
        for (const Scenario &scenario : kScenarios)
            if (name == QLatin1String(scenario.name))
                chosen = &scenario;
        if (!chosen || (chosen->needs && !arguments.text(chosen->needs))) {
            usage();
            return 2;
        }
        chosen->run(arguments, false);
    }
    out.flush();
    return checksFailed() ? 1 : 0;
}
