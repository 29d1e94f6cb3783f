// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl/actions.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "logic/command_table.h"
#include "logic/network_address.h"
#include "logic/port_choice.h"
#include "logic/reply_decoder.h"
#include "serial/port.h"
#include "serial/port_device.h"

namespace mv70::ctl {
namespace {

QString fromView(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// What a panel just started would wait and repeat for the button: the
// timers' start intervals where the button sets none.
int replyWindowOf(const ButtonTimings &timings) { return timings.timing.value_or(kStartTiming).replyWindow; }
int repeatPeriodOf(const ButtonTimings &timings) { return timings.repeatPeriod.value_or(kStartRepeatPeriod); }

}  // namespace

QList<Action> allActions() {
    QList<Action> actions;
    for (const OneShotButton &button : kOneShotButtons)
        if (!button.action.empty())
            actions.append({fromView(button.action), QStringView(button.code).toString(), ActionKind::OneShot,
                            replyWindowOf(buttonTimings(button)), 0});
    for (const HoldButton &button : kHoldButtons) {
        // An arrow pressed on a panel just started (ArrowSpeedMode 0) repeats
        // at the start repeat period and leaves the reply window as it is.
        const ButtonTimings timings = buttonTimings(button, 0);
        actions.append({fromView(button.action), QStringView(button.code()).toString(), ActionKind::Hold,
                        replyWindowOf(timings), repeatPeriodOf(timings)});
    }
    for (const QueryName &query : knownQueries())
        actions.append({fromView(query.action), QStringView(query.code).toString(), ActionKind::Query,
                        kStartTiming.replyWindow, 0});
    return actions;
}

namespace {

// Two names of one port: the same text, or two local names that lead to
// the same device (a link and its target).
bool samePort(const QString &a, const QString &b) {
    if (a == b)
        return true;
    if (serial::isNetworkDevice(a) || serial::isNetworkDevice(b))
        return false;
    const QString target = QFileInfo(a).canonicalFilePath();
    return !target.isEmpty() && target == QFileInfo(b).canonicalFilePath();
}

QString speedSettings(const QString &speed) {
    for (const serial::SpeedChoice &choice : serial::kSpeedChoices) {
        const QString settings = QString::fromLatin1(choice.settings);
        if (settings.section(u',', 0, 0) == speed)
            return settings;
    }
    return {};
}

}  // namespace

std::optional<Action> findAction(const QStringList &words) {
    if (words.size() >= 2 && words.front() == u"send") {
        const QString code = words.sliced(1).join(u' ');
        return Action{QStringLiteral("send"), code, ActionKind::Send, kImageTiming.replyWindow, 0};
    }
    const QString wanted = words.join(u' ');
    for (const Action &action : allActions())
        if (action.words == wanted)
            return action;
    return std::nullopt;
}

QStringList actionList() {
    QStringList lines;
    for (const Action &action : allActions()) {
        QString line = action.words;
        line += action.kind == ActionKind::Hold ? QStringLiteral(" [--steps N]") : QString();
        lines << QStringLiteral("  %1%2sends %3").arg(line, QString(qMax(1, 34 - line.size()), u' '), action.code);
    }
    lines << QStringLiteral("  send TEXT%1sends TEXT").arg(QString(34 - 9, u' '));
    return lines;
}

QString usage() {
    return QStringLiteral("usage: mv70-ctl [--port DEVICE]... [--speed 19200|9600] [--json] [--log FILE]\n"
                          "                [--wait-for READING [--timeout S]] ACTION\n"
                          "\n"
                          "Runs one action on the projector at each port (all at once) and prints its\n"
                          "answer: the reading as the panel's STATUS line shows it, \"acknowledged\",\n"
                          "or else the received characters as the RXD line shows them.\n"
                          "\n"
                          "  --port DEVICE      a port; may be given many times (default: %1)\n"
                          "  --speed BPS        19200 (default) or 9600\n"
                          "  --steps N          sends of a press-and-hold action, at its repeat period\n"
                          "  --wait-for READING then query the status until it reads READING\n"
                          "  --timeout S        give up waiting after S seconds (default 60)\n"
                          "  --json             one JSON object per port\n"
                          "  --log FILE         append every transmit and receive to FILE\n"
                          "\n"
                          "Power, input, mute, freeze and volume are sent only after a status query, and\n"
                          "not when the projector cannot do them now (in standby, warming up, cooling down).\n"
                          "\n"
                          "Exit status: 0 answered, 1 no reply in time, 2 usage error or an action not\n"
                          "possible now, 3 port error; with several ports the worst of them. 128+N when\n"
                          "ended by signal N.\n"
                          "\n"
                          "Actions:\n")
               .arg(serial::Port::devicePath(serial::kStartPort))
         + actionList().join(u'\n') + u'\n';
}

std::variant<Options, QString> parseArguments(const QStringList &arguments) {
    Options options;
    options.settings = QString::fromLatin1(serial::kStartSettings);
    // The action's words are the positional arguments; options may stand
    // between them ("volume up --steps 3"), and "--" ends the options (a
    // word of "send" that begins with '-' goes after it).
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QStringList valueOptions = {QStringLiteral("port"),     QStringLiteral("speed"),   QStringLiteral("steps"),
                                      QStringLiteral("wait-for"), QStringLiteral("timeout"), QStringLiteral("log")};
    parser.addOptions({help, version, json});
    for (const QString &name : valueOptions)
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("value")));
    const bool parsed = parser.parse(QStringList{QStringLiteral("mv70-ctl")} + arguments);
    for (const QString &unknown : parser.unknownOptionNames())
        return QStringLiteral("unknown option %1%2")
            .arg(unknown.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), unknown);
    if (!parsed) {
        // The parser's one other complaint of a value option is that it is
        // the last argument: the value is missing.
        const QString last = arguments.isEmpty() ? QString() : arguments.constLast();
        if (last.startsWith(u"--") && valueOptions.contains(last.sliced(2)))
            return QStringLiteral("%1 needs a value").arg(last);
        return parser.errorText();
    }
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.json = parser.isSet(json);
    for (const QString &port : parser.values(QStringLiteral("port"))) {
        if (port.isEmpty())
            return QStringLiteral("--port needs a device");
        options.ports << port;
    }
    // Given twice, the last one counts.
    const auto last = [&](const QString &name) { return parser.values(name).constLast(); };
    if (parser.isSet(QStringLiteral("speed"))) {
        options.settings = speedSettings(last(QStringLiteral("speed")));
        if (options.settings.isEmpty())
            return QStringLiteral("--speed must be 19200 or 9600, not \"%1\"").arg(last(QStringLiteral("speed")));
    }
    const bool stepsGiven = parser.isSet(QStringLiteral("steps"));
    if (stepsGiven) {
        bool ok = false;
        options.steps = last(QStringLiteral("steps")).toInt(&ok);
        if (!ok || options.steps < 1 || options.steps > kMaxSteps)
            return QStringLiteral("--steps must be a number from 1 to %1").arg(kMaxSteps);
    }
    if (parser.isSet(QStringLiteral("wait-for"))) {
        options.waitFor = last(QStringLiteral("wait-for")).trimmed();
        if (options.waitFor.isEmpty())
            return QStringLiteral("--wait-for needs a reading");
    }
    const bool timeoutGiven = parser.isSet(QStringLiteral("timeout"));
    if (timeoutGiven) {
        bool ok = false;
        const double seconds = last(QStringLiteral("timeout")).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 86400)
            return QStringLiteral("--timeout must be a number of seconds above 0, at most 86400");
        options.timeoutMs = qMax(1, qRound(seconds * 1000));
    }
    if (parser.isSet(QStringLiteral("log"))) {
        options.logPath = last(QStringLiteral("log"));
        if (options.logPath.isEmpty())
            return QStringLiteral("--log needs a file");
    }
    const QStringList words = parser.positionalArguments();
    if (options.help || options.version)
        return options;
    if (words.isEmpty())
        return QStringLiteral("no action given");
    const std::optional<Action> action = findAction(words);
    if (!action) {
        if (words.front() == u"send")
            return QStringLiteral("send needs the text of a command");
        return QStringLiteral("unknown action \"%1\"").arg(words.join(u' '));
    }
    options.action = *action;
    if (stepsGiven && action->kind != ActionKind::Hold)
        return QStringLiteral("--steps is for the press-and-hold actions only");
    if (timeoutGiven && options.waitFor.isEmpty())
        return QStringLiteral("--timeout goes with --wait-for");
    // One port in one call is one exchange: given twice, the second opening
    // would find the port held by this very call.
    for (qsizetype i = 1; i < options.ports.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            if (samePort(options.ports[i], options.ports[j]))
                return options.ports[i] == options.ports[j]
                         ? QStringLiteral("--port %1 is given twice").arg(options.ports[i])
                         : QStringLiteral("--port %1 and --port %2 are the same port")
                               .arg(options.ports[j], options.ports[i]);
    if (options.ports.isEmpty())
        options.ports << serial::Port::devicePath(serial::kStartPort);
    // One device is one port whatever name it is given: twice in one call,
    // the second opening would find the first holding it.
    for (qsizetype i = 0; i < options.ports.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            if (serial::resolveDevice(options.ports[i]) == serial::resolveDevice(options.ports[j]))
                return options.ports[i] == options.ports[j]
                         ? QStringLiteral("--port %1 is given twice").arg(options.ports[i])
                         : QStringLiteral("--port %1 and --port %2 are the same device")
                               .arg(options.ports[j], options.ports[i]);
    return options;
}

}  // namespace mv70::ctl
