// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

#include "serial/port_device.h"
#include "serial/port_listing.h"

namespace mv70 {
namespace {

struct Options {
    QCommandLineParser parser;
    QCommandLineOption help =
        QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and end."));
    QCommandLineOption version = QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")},
                                                    QStringLiteral("Show the version and end."));
    QCommandLineOption listPorts = QCommandLineOption(
        QStringLiteral("list-ports"),
        QStringLiteral("List the serial devices present, their stable names, USB maker and product, and whether a "
                       "program holds them; then end."));
    QCommandLineOption com1 = QCommandLineOption(
        QStringLiteral("com1"), QStringLiteral("The device for COM1 (instead of MV70_COM1, default /dev/ttyS0)."),
        QStringLiteral("device"));
    QCommandLineOption com2 = QCommandLineOption(
        QStringLiteral("com2"), QStringLiteral("The device for COM2 (instead of MV70_COM2, default /dev/ttyS1)."),
        QStringLiteral("device"));

    Options() {
        parser.setApplicationDescription(
            QStringLiteral("The operator's panel for the OLVA MV70 projector on a serial line.\n"
                           "COM1 is opened at start; a USB adapter that is unplugged is waited for and opened again."));
        parser.addOptions({help, version, listPorts, com1, com2});
    }
};

// What the toolkit itself takes from the command line (Qt's -platform,
// -style and the like).
const QStringList kToolkitOptions = {
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("geometry"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("title"),
    QStringLiteral("qwindowicon"),     QStringLiteral("icon"),
    QStringLiteral("display"),         QStringLiteral("name"),
    QStringLiteral("style"),           QStringLiteral("stylesheet"),
    QStringLiteral("reverse"),         QStringLiteral("session"),
    QStringLiteral("widgetcount"),     QStringLiteral("nograb"),
    QStringLiteral("dograb"),          QStringLiteral("visual"),
    QStringLiteral("ncols"),           QStringLiteral("cmap"),
    QStringLiteral("qmljsdebugger"),   QStringLiteral("reverse"),
};

void print(FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

}  // namespace

std::optional<int> answerCommandLine(int argc, char *argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Options options;
    // The toolkit's own options (-platform, -style, ...) are not known here
    // yet: they are left for the second, strict look.
    options.parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool parsed = options.parser.parse(arguments);
    if (options.parser.isSet(options.help)) {
        QString help = options.parser.helpText();
        help.replace(QStringLiteral("<executable_name>"), QCoreApplication::applicationName());
        print(stdout, help);
        return 0;
    }
    if (options.parser.isSet(options.version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                    QCoreApplication::applicationVersion()));
        return 0;
    }
    for (const QString &unknown : options.parser.unknownOptionNames())
        if (!kToolkitOptions.contains(unknown)) {
            print(stderr, QStringLiteral("Unknown option '%1'. See %2 --help.\n")
                              .arg(unknown, QCoreApplication::applicationName()));
            return 1;
        }
    if (!parsed && options.parser.unknownOptionNames().isEmpty()) {
        print(stderr, options.parser.errorText() + u'\n');
        return 1;
    }
    if (options.parser.isSet(options.listPorts)) {
        // Nothing else goes with it, but the values of the toolkit's options
        // (-platform offscreen), which this first look takes for arguments.
        const QStringList stray = options.parser.positionalArguments();
        if (stray.size() > options.parser.unknownOptionNames().size()) {
            print(stderr, QStringLiteral("Unexpected argument: %1\n").arg(stray.last()));
            return 1;
        }
        print(stdout, serial::formatListing(serial::listPorts()));
        return 0;
    }
    return std::nullopt;
}

void applyCommandLine(const QCoreApplication &app) {
    Options options;
    options.parser.process(app);  // a wrong option ends the program with its message
    if (!options.parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("Unexpected argument: %1\n").arg(options.parser.positionalArguments().first()));
        std::exit(1);
    }
    if (options.parser.isSet(options.com1))
        serial::setPortDeviceOption(1, options.parser.value(options.com1));
    if (options.parser.isSet(options.com2))
        serial::setPortDeviceOption(2, options.parser.value(options.com2));
}

}  // namespace mv70
