// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/options.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mv70::bridge {
namespace {

// Every key of a section: an option of the command line (with "--") and a
// key of the configuration file (without).
const QStringList kKeys = {
    QStringLiteral("port"),
    QStringLiteral("name"),
    QStringLiteral("settings"),
    QStringLiteral("pjlink"),
    QStringLiteral("pjlink-password-file"),
    QStringLiteral("pjlink-notify"),
    QStringLiteral("log"),
    QStringLiteral("mqtt"),
    QStringLiteral("mqtt-ca"),
    QStringLiteral("mqtt-user"),
    QStringLiteral("mqtt-password-file"),
    QStringLiteral("status-poll"),
    QStringLiteral("slow-poll"),
};
// Keys naming files, read relative to the configuration file's folder.
const QStringList kFileKeys = {QStringLiteral("pjlink-password-file"), QStringLiteral("log"), QStringLiteral("mqtt-ca"),
                               QStringLiteral("mqtt-password-file")};

constexpr qsizetype kMaxNameLength = 64;  // what a PJLink NAME reply may carry
constexpr qsizetype kMaxPasswordLength = 4096;

using Values = QHash<QString, QString>;

struct Failure {
    QString message;
};

bool parsePollMs(const QString &text, int *ms) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 100 || value > 3600000)
        return false;
    *ms = value;
    return true;
}

bool validName(const QString &name) {
    if (name.isEmpty() || name.size() > kMaxNameLength)
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'/' || c == u'+' || c == u'#')
            return false;
    return true;
}

// One projector's section from its keys; `where` says where they came from.
std::optional<BridgeSection> makeSection(const Values &values, const QString &defaultName, const QString &where,
                                         QString *error) {
    const auto fail = [&](const QString &message) {
        *error = where.isEmpty() ? message : where + QStringLiteral(": ") + message;
        return std::nullopt;
    };
    BridgeSection section;
    section.projector.device = values.value(QStringLiteral("port"));
    if (section.projector.device.isEmpty())
        return fail(QStringLiteral("no port: give the projector's device with --port DEVICE"));
    section.projector.name = values.value(QStringLiteral("name"), defaultName);
    if (!validName(section.projector.name))
        return fail(QStringLiteral("the name \"%1\" must be 1 to %2 characters without control characters, "
                                   "'/', '+' or '#'")
                        .arg(section.projector.name)
                        .arg(kMaxNameLength));
    if (values.contains(QStringLiteral("settings")))
        section.projector.settings = values.value(QStringLiteral("settings"));
    for (const auto &[key, target] : {std::pair{QStringLiteral("status-poll"), &section.projector.statusPollMs},
                                      std::pair{QStringLiteral("slow-poll"), &section.projector.slowPollMs}})
        if (values.contains(key) && !parsePollMs(values.value(key), target))
            return fail(QStringLiteral("%1 must be a number of milliseconds from 100 to 3600000").arg(key));
    section.logPath = values.value(QStringLiteral("log"));

    const bool mqtt = values.contains(QStringLiteral("mqtt"));
    // PJLink runs when asked for, and by default when MQTT is not.
    if (values.contains(QStringLiteral("pjlink")) || !mqtt) {
        PjlinkConfig pjlink;
        if (values.contains(QStringLiteral("pjlink"))
            && !parseHostPort(values.value(QStringLiteral("pjlink")), &pjlink.address, &pjlink.port))
            return fail(QStringLiteral("--pjlink wants ADDRESS:PORT (an IPv6 address in brackets), not \"%1\"")
                            .arg(values.value(QStringLiteral("pjlink"))));
        if (values.contains(QStringLiteral("pjlink-password-file"))) {
            QString why;
            pjlink.password = readPasswordFile(values.value(QStringLiteral("pjlink-password-file")), &why);
            if (pjlink.password.isEmpty())
                return fail(why);
        }
        if (pjlink.password.isEmpty() && !pjlink.address.isLoopback())
            return fail(QStringLiteral("refusing to listen on %1 without a password: anyone who reaches it could "
                                       "switch the projector. Give --pjlink-password-file FILE, or listen on "
                                       "127.0.0.1.")
                            .arg(pjlink.address.toString()));
        if (values.contains(QStringLiteral("pjlink-notify"))) {
            QHostAddress address;
            if (!parseHostPort(values.value(QStringLiteral("pjlink-notify")), &address, &pjlink.notifyPort))
                return fail(QStringLiteral("--pjlink-notify wants ADDRESS:PORT, not \"%1\"")
                                .arg(values.value(QStringLiteral("pjlink-notify"))));
            pjlink.notifyAddress = address;
        }
        section.pjlink = pjlink;
    } else {
        for (const QString &key : {QStringLiteral("pjlink-password-file"), QStringLiteral("pjlink-notify")})
            if (values.contains(key))
                return fail(QStringLiteral("%1 without --pjlink").arg(key));
    }

    if (mqtt) {
        MqttConfig config;
        config.url = values.value(QStringLiteral("mqtt"));
        const QUrl url(config.url, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (!url.isValid() || (scheme != u"mqtt" && scheme != u"mqtts") || url.host().isEmpty() || url.port() <= 0
            || !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != u"/"))
            return fail(
                config.url.contains(u'@')
                    // A user name or password in the address is never echoed.
                    ? QStringLiteral("--mqtt wants mqtt://HOST:PORT or mqtts://HOST:PORT, without a user "
                                     "or password: give those with --mqtt-user and --mqtt-password-file")
                    : QStringLiteral("--mqtt wants mqtt://HOST:PORT or mqtts://HOST:PORT, not \"%1\"").arg(config.url));
        config.caFile = values.value(QStringLiteral("mqtt-ca"));
        if (!config.caFile.isEmpty() && scheme != u"mqtts")
            return fail(QStringLiteral("--mqtt-ca is for mqtts:// only"));
        if (!config.caFile.isEmpty() && !QFileInfo(config.caFile).isReadable())
            return fail(QStringLiteral("cannot read the CA file %1").arg(config.caFile));
        config.user = values.value(QStringLiteral("mqtt-user"));
        if (values.contains(QStringLiteral("mqtt-password-file"))) {
            if (config.user.isEmpty())
                return fail(QStringLiteral("--mqtt-password-file without --mqtt-user"));
            QString why;
            config.password = readPasswordFile(values.value(QStringLiteral("mqtt-password-file")), &why);
            if (config.password.isEmpty())
                return fail(why);
        }
        section.mqtt = config;
    } else {
        for (const QString &key :
             {QStringLiteral("mqtt-ca"), QStringLiteral("mqtt-user"), QStringLiteral("mqtt-password-file")})
            if (values.contains(key))
                return fail(QStringLiteral("--%1 without --mqtt").arg(key));
    }
    return section;
}

// Two projectors cannot share a name, nor a PJLink address and port.
QString clashes(const QList<BridgeSection> &sections) {
    for (qsizetype i = 0; i < sections.size(); ++i)
        for (qsizetype j = 0; j < i; ++j) {
            if (sections[i].projector.name == sections[j].projector.name)
                return QStringLiteral("two projectors are named \"%1\"").arg(sections[i].projector.name);
            if (sections[i].projector.device == sections[j].projector.device)
                return QStringLiteral("\"%1\" and \"%2\" have the same port %3")
                    .arg(sections[j].projector.name, sections[i].projector.name, sections[i].projector.device);
            const auto &a = sections[i].pjlink;
            const auto &b = sections[j].pjlink;
            if (a && b && a->port == b->port && a->address == b->address)
                return QStringLiteral("\"%1\" and \"%2\" both listen on port %3")
                    .arg(sections[j].projector.name, sections[i].projector.name)
                    .arg(a->port);
        }
    return {};
}

CommandLine usageError(QString message) {
    CommandLine result;
    result.kind = CommandLine::Kind::UsageError;
    result.message = std::move(message);
    return result;
}

CommandLine fromConfigFile(const QString &path) {
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable())
        return usageError(QStringLiteral("cannot read the configuration file %1").arg(path));
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return usageError(QStringLiteral("%1 is not a configuration file (one [section] of key=value lines per "
                                         "projector)")
                              .arg(path));
    if (!settings.childKeys().isEmpty())
        return usageError(QStringLiteral("%1: \"%2\" stands outside a [projector] section")
                              .arg(path, settings.childKeys().constFirst()));
    const QDir folder = QFileInfo(path).absoluteDir();
    CommandLine result;
    result.kind = CommandLine::Kind::Run;
    for (const QString &group : settings.childGroups()) {
        settings.beginGroup(group);
        Values values;
        for (const QString &key : settings.allKeys()) {
            if (!kKeys.contains(key))
                return usageError(QStringLiteral("%1 [%2]: unknown key \"%3\"").arg(path, group, key));
            const QVariant value = settings.value(key);
            // An unquoted value with commas (the line settings) comes back as a list.
            QString text =
                value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',') : value.toString();
            if (kFileKeys.contains(key) && !text.isEmpty())
                text = QDir::cleanPath(folder.absoluteFilePath(text));
            values.insert(key, text);
        }
        settings.endGroup();
        QString error;
        const auto section = makeSection(values, group, QStringLiteral("%1 [%2]").arg(path, group), &error);
        if (!section)
            return usageError(error);
        result.sections.append(*section);
    }
    if (result.sections.isEmpty())
        return usageError(QStringLiteral("%1 has no [projector] section").arg(path));
    if (const QString clash = clashes(result.sections); !clash.isEmpty())
        return usageError(path + QStringLiteral(": ") + clash);
    return result;
}

}  // namespace

bool parseHostPort(const QString &text, QHostAddress *address, quint16 *port) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString host = text.first(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.sliced(1, host.size() - 2);
    else if (host.contains(u':'))
        return false;  // an IPv6 address goes in brackets
    bool ok = false;
    const uint number = text.sliced(colon + 1).toUInt(&ok);
    QHostAddress parsed;
    if (!ok || number == 0 || number > 65535 || !parsed.setAddress(host))
        return false;
    *address = parsed;
    *port = quint16(number);
    return true;
}

QByteArray readPasswordFile(const QString &path, QString *error) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = QStringLiteral("cannot read the password file %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    QByteArray content;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = QStringLiteral("the password file %1 is not a file").arg(path);
    } else if ((info.st_mode & 077) != 0) {
        *error =
            QStringLiteral("the password file %1 may be read by others (mode %2); make it owner-only: chmod 600 %1")
                .arg(path)
                .arg(info.st_mode & 0777, 4, 8, QChar(u'0'));
    } else if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        *error = QStringLiteral("the password file %1 belongs to another user").arg(path);
    } else {
        char buffer[1024];
        ssize_t got = 0;
        while (content.size() <= kMaxPasswordLength && (got = ::read(fd, buffer, sizeof buffer)) > 0)
            content.append(buffer, got);
        if (got < 0)
            *error = QStringLiteral("cannot read the password file %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    ::close(fd);
    if (!error->isEmpty())
        return {};
    const qsizetype end = content.indexOf('\n');
    if (end >= 0)
        content.truncate(end);
    if (content.endsWith('\r'))
        content.chop(1);
    if (content.isEmpty() || content.size() > kMaxPasswordLength) {
        *error = content.isEmpty() ? QStringLiteral("the password file %1 holds no password").arg(path)
                                   : QStringLiteral("the password in %1 is too long").arg(path);
        return {};
    }
    return content;
}

CommandLine parseCommandLine(const QStringList &arguments) {
    Values values;
    QString configPath;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == u"--help" || argument == u"-h") {
            CommandLine result;
            result.kind = CommandLine::Kind::Help;
            return result;
        }
        if (argument == u"--version") {
            CommandLine result;
            result.kind = CommandLine::Kind::Version;
            return result;
        }
        if (!argument.startsWith(u"--"))
            return usageError(QStringLiteral("unexpected argument \"%1\"").arg(argument));
        QString key = argument.sliced(2);
        QString value;
        if (const qsizetype equals = key.indexOf(u'='); equals >= 0) {
            value = key.sliced(equals + 1);
            key.truncate(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return usageError(QStringLiteral("%1 wants a value").arg(argument));
        }
        if (key == u"config") {
            if (!configPath.isEmpty())
                return usageError(QStringLiteral("--config given twice"));
            configPath = value;
            continue;
        }
        if (key.endsWith(u"password"))
            return usageError(
                QStringLiteral("passwords are never given on the command line; use --%1-file FILE").arg(key));
        if (!kKeys.contains(key))
            return usageError(QStringLiteral("unknown option --%1").arg(key));
        if (values.contains(key))
            return usageError(QStringLiteral("--%1 given twice").arg(key));
        values.insert(key, value);
    }
    if (!configPath.isEmpty()) {
        if (!values.isEmpty())
            return usageError(QStringLiteral("--config takes every setting from its file; --%1 cannot go with it")
                                  .arg(values.keys().constFirst()));
        return fromConfigFile(configPath);
    }
    if (values.isEmpty())
        return usageError(QStringLiteral("no projector: give --port DEVICE or --config FILE"));
    QString error;
    const auto section = makeSection(values, QStringLiteral("mv70"), QString(), &error);
    if (!section)
        return usageError(error);
    CommandLine result;
    result.kind = CommandLine::Kind::Run;
    result.sections.append(*section);
    return result;
}

QString usageText() {
    return QStringLiteral(
        "Usage: mv70-bridge --port DEVICE [--pjlink ADDRESS:PORT] [--pjlink-password-file FILE]\n"
        "                   [--name NAME] [--log FILE] [--mqtt mqtt://HOST:PORT ...]\n"
        "       mv70-bridge --config FILE\n"
        "\n"
        "Puts an MV70 projector on its serial line on the network: as a PJLink projector\n"
        "(Class 1 and 2) and on an MQTT broker. One queue per projector carries every\n"
        "command to the line; a poller keeps what the projector last said.\n"
        "\n"
        "  --port DEVICE                 the projector's line: /dev/ttyUSB0, a by-id path,\n"
        "                                rfc2217://HOST:PORT or tcp://HOST:PORT\n"
        "  --settings SETTINGS           line settings (default 19200,N,8,1)\n"
        "  --name NAME                   the projector's name: PJLink NAME, MQTT topics (default mv70)\n"
        "  --pjlink ADDRESS:PORT         where PJLink listens (default 127.0.0.1:4352); any\n"
        "                                address other than loopback needs a password\n"
        "  --pjlink-password-file FILE   the PJLink password, from an owner-only file\n"
        "  --pjlink-notify ADDRESS:PORT  where PJLink Class 2 status notifications go\n"
        "  --mqtt URL                    mqtt://HOST:PORT or mqtts://HOST:PORT; without --pjlink\n"
        "                                only MQTT runs\n"
        "  --mqtt-ca FILE                the CA certificates for mqtts://\n"
        "  --mqtt-user NAME              the broker's user name\n"
        "  --mqtt-password-file FILE     the broker's password, from an owner-only file\n"
        "  --status-poll MS              operating status period (default 5000)\n"
        "  --slow-poll MS                period of the other readings (default 60000)\n"
        "  --log FILE                    append every exchange on the line to FILE\n"
        "  --config FILE                 several projectors: one [NAME] section each, with the\n"
        "                                options above as keys (port=..., pjlink=...)\n"
        "  --help, --version\n"
        "\n"
        "Exit status: 0 after SIGTERM or SIGINT, 1 when a PJLink port cannot be opened,\n"
        "2 for a usage error.\n");
}

}  // namespace mv70::bridge
