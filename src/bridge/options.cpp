// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/options.h"

#include <QCommandLineParser>
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

#include "logic/line_settings.h"
#include "logic/network_address.h"
#include "logic/visible_text.h"
#include "mqtt/topics.h"
#include "serial/port_device.h"

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
    QStringLiteral("reply-window"),
    QStringLiteral("serial"),
    QStringLiteral("discovery-prefix"),
};
// Keys naming files, read relative to the configuration file's folder.
const QStringList kFileKeys = {QStringLiteral("pjlink-password-file"), QStringLiteral("log"), QStringLiteral("mqtt-ca"),
                               QStringLiteral("mqtt-password-file")};

constexpr qsizetype kMaxNameLength = 64;  // what a PJLink NAME reply may carry
constexpr qsizetype kMaxPasswordLength = 4096;
constexpr qsizetype kMaxPjlinkPasswordLength = 32;  // what PJLink allows
constexpr qsizetype kMaxSerialLength = 32;          // what a PJLink SNUM reply may carry
constexpr qsizetype kMaxTopicPrefixLength = 128;
constexpr qint64 kMaxConfigFileSize = 1024 * 1024;

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

bool isControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool hasControl(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return isControl(c.unicode()); });
}

// Text from the command line or a file, to be quoted in a message: its
// control characters (a CR would overwrite the message on a terminal) as
// escapes.
QString shown(const QString &text) { return visibleText(text); }

// At most `limit` printable ASCII characters.
bool printableAscii(QStringView text, qsizetype limit) {
    return text.size() <= limit
        && std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
}

// A topic prefix a broker takes to publish and subscribe under: not empty,
// no wildcard, not the brokers' own "$" topics, no empty level at its ends.
bool validTopicPrefix(const QString &prefix) {
    return !prefix.isEmpty() && prefix.size() <= kMaxTopicPrefixLength && !prefix.contains(u'+')
        && !prefix.contains(u'#') && !prefix.startsWith(u'$') && !prefix.startsWith(u'/') && !prefix.endsWith(u'/')
        && !hasControl(prefix);
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
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        if (hasControl(it.value()))
            return fail(
                QStringLiteral("the value of %1 holds a control character: \"%2\"").arg(it.key(), shown(it.value())));
    BridgeSection section;
    section.projector.device = values.value(QStringLiteral("port"));
    if (section.projector.device.isEmpty())
        return fail(QStringLiteral("no port: give the projector's device with --port DEVICE"));
    section.projector.name = values.value(QStringLiteral("name"), defaultName);
    if (!validName(section.projector.name))
        return fail(QStringLiteral("the name \"%1\" must be 1 to %2 characters without control characters, "
                                   "'/', '+' or '#'")
                        .arg(shown(section.projector.name))
                        .arg(kMaxNameLength));
    if (values.contains(QStringLiteral("settings"))) {
        section.projector.settings = values.value(QStringLiteral("settings"));
        const auto settings = serial::parseLineSettings(section.projector.settings);
        if (const QString *why = std::get_if<QString>(&settings))
            return fail(*why);  // it quotes the settings
    }
    for (const auto &[key, target] : {std::pair{QStringLiteral("status-poll"), &section.projector.statusPollMs},
                                      std::pair{QStringLiteral("slow-poll"), &section.projector.slowPollMs}})
        if (values.contains(key) && !parsePollMs(values.value(key), target))
            return fail(QStringLiteral("%1 must be a number of milliseconds from 100 to 3600000").arg(key));
    if (values.contains(QStringLiteral("reply-window"))) {
        bool ok = false;
        const int ms = values.value(QStringLiteral("reply-window")).toInt(&ok);
        if (!ok || ms < 100 || ms > 10000)
            return fail(QStringLiteral("reply-window must be a number of milliseconds from 100 to 10000"));
        section.projector.replyWindowMs = ms;
    }
    const QString serialNumber = values.value(QStringLiteral("serial"));
    if (!printableAscii(serialNumber, kMaxSerialLength))
        return fail(QStringLiteral("serial must be at most %1 printable ASCII characters, not \"%2\"")
                        .arg(kMaxSerialLength)
                        .arg(shown(serialNumber)));
    section.logPath = values.value(QStringLiteral("log"));

    const bool mqtt = values.contains(QStringLiteral("mqtt"));
    // PJLink runs when asked for, and by default when MQTT is not.
    if (values.contains(QStringLiteral("pjlink")) || !mqtt) {
        PjlinkConfig pjlink;
        pjlink.serialNumber = serialNumber.toLatin1();
        if (values.contains(QStringLiteral("pjlink"))
            && !parseHostPort(values.value(QStringLiteral("pjlink")), &pjlink.address, &pjlink.port))
            return fail(QStringLiteral("--pjlink wants ADDRESS:PORT (an IPv6 address in brackets), not \"%1\"")
                            .arg(shown(values.value(QStringLiteral("pjlink")))));
        if (values.contains(QStringLiteral("pjlink-password-file"))) {
            const QString file = values.value(QStringLiteral("pjlink-password-file"));
            QString why;
            pjlink.password = readPasswordFile(file, &why);
            if (pjlink.password.isEmpty())
                return fail(why);
            // The password itself is never shown.
            if (pjlink.password.size() > kMaxPjlinkPasswordLength)
                return fail(QStringLiteral("the PJLink password in %1 is %2 bytes long; PJLink allows at most %3")
                                .arg(shown(file))
                                .arg(pjlink.password.size())
                                .arg(kMaxPjlinkPasswordLength));
            // Bytes: 0x80 to 0x9F are parts of UTF-8 characters here.
            if (std::any_of(pjlink.password.begin(), pjlink.password.end(),
                            [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7F; }))
                return fail(QStringLiteral("the PJLink password in %1 holds a control character").arg(shown(file)));
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
                                .arg(shown(values.value(QStringLiteral("pjlink-notify")))));
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
            return fail(config.url.contains(u'@')
                            // A user name or password in the address is never echoed.
                            ? QStringLiteral("--mqtt wants mqtt://HOST:PORT or mqtts://HOST:PORT, without a user "
                                             "or password: give those with --mqtt-user and --mqtt-password-file")
                            : QStringLiteral("--mqtt wants mqtt://HOST:PORT or mqtts://HOST:PORT, not \"%1\"")
                                  .arg(shown(config.url)));
        config.caFile = values.value(QStringLiteral("mqtt-ca"));
        if (!config.caFile.isEmpty() && scheme != u"mqtts")
            return fail(QStringLiteral("--mqtt-ca is for mqtts:// only"));
        if (!config.caFile.isEmpty() && !QFileInfo(config.caFile).isReadable())
            return fail(QStringLiteral("cannot read the CA file %1").arg(shown(config.caFile)));
        config.user = values.value(QStringLiteral("mqtt-user"));
        if (values.contains(QStringLiteral("mqtt-password-file"))) {
            if (config.user.isEmpty())
                return fail(QStringLiteral("--mqtt-password-file without --mqtt-user"));
            QString why;
            config.password = readPasswordFile(values.value(QStringLiteral("mqtt-password-file")), &why);
            if (config.password.isEmpty())
                return fail(why);
            // libmosquitto takes it as a C string: it would end at a NUL.
            if (config.password.contains('\0'))
                return fail(QStringLiteral("the MQTT password in %1 holds a NUL character")
                                .arg(shown(values.value(QStringLiteral("mqtt-password-file")))));
        }
        if (values.contains(QStringLiteral("discovery-prefix"))) {
            config.discoveryPrefix = values.value(QStringLiteral("discovery-prefix"));
            if (!validTopicPrefix(config.discoveryPrefix))
                return fail(QStringLiteral("discovery-prefix must be a topic of 1 to %1 characters without '+', "
                                           "'#', a leading '$' or '/' or a trailing '/', not \"%2\"")
                                .arg(kMaxTopicPrefixLength)
                                .arg(shown(config.discoveryPrefix)));
        }
        section.mqtt = config;
    } else {
        for (const QString &key : {QStringLiteral("mqtt-ca"), QStringLiteral("mqtt-user"),
                                   QStringLiteral("mqtt-password-file"), QStringLiteral("discovery-prefix")})
            if (values.contains(key))
                return fail(QStringLiteral("--%1 without --mqtt").arg(key));
    }
    return section;
}

// One device, whatever it is named: a local name by the device file it
// leads to now (a link and its target are one), a network port as written.
QString deviceIdentity(const QString &device) {
    return serial::isNetworkDevice(device) ? device : serial::resolveDevice(device);
}

// Two projectors cannot share a name, a device, a PJLink address and port,
// nor (both on MQTT) a topic: names that differ only in what a topic cannot
// carry give one topic and one client id, and the broker would throw one
// projector's connection out for the other's.
QString clashes(const QList<BridgeSection> &sections) {
    for (qsizetype i = 0; i < sections.size(); ++i)
        for (qsizetype j = 0; j < i; ++j) {
            const ProjectorConfig &a = sections[j].projector;
            const ProjectorConfig &b = sections[i].projector;
            if (a.name == b.name)
                return QStringLiteral("two projectors are named \"%1\"").arg(b.name);
            if (a.device == b.device)
                return QStringLiteral("\"%1\" and \"%2\" have the same port %3").arg(a.name, b.name, shown(b.device));
            if (deviceIdentity(a.device) == deviceIdentity(b.device))
                return QStringLiteral("\"%1\" and \"%2\" have the same device: %3 and %4 both lead to %5")
                    .arg(a.name, b.name, shown(a.device), shown(b.device), shown(deviceIdentity(b.device)));
            const auto &pa = sections[j].pjlink;
            const auto &pb = sections[i].pjlink;
            if (pa && pb && pa->port == pb->port && pa->address == pb->address)
                return QStringLiteral("\"%1\" and \"%2\" both listen on port %3").arg(a.name, b.name).arg(pa->port);
            const auto &ma = sections[j].mqtt;
            const auto &mb = sections[i].mqtt;
            if (ma && mb && ma->prefix == mb->prefix && mqtt::topicName(a.name) == mqtt::topicName(b.name))
                return QStringLiteral("\"%1\" and \"%2\" give one MQTT topic, %3/%4, and one client id: "
                                      "rename one")
                    .arg(a.name, b.name, ma->prefix, mqtt::topicName(b.name));
        }
    return {};
}

CommandLine usageError(QString message) {
    CommandLine result;
    result.kind = CommandLine::Kind::UsageError;
    result.message = std::move(message);
    return result;
}

// Where each section and key of a configuration file stands, read from its
// lines: QSettings would merge a section written twice, and keep the last of
// a key written twice in one section, without a word.
struct FileLayout {
    QHash<QString, int> sections;              // [name] -> its line
    QHash<QString, QHash<QString, int>> keys;  // [name] -> key -> its line
};

std::variant<FileLayout, QString> readLayout(const QByteArray &content, const QString &path) {
    FileLayout layout;
    QString section;
    int number = 0;
    for (QByteArray line : content.split('\n')) {
        ++number;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.contains(']')) {
            section = QString::fromUtf8(line.sliced(1, line.lastIndexOf(']') - 1)).trimmed();
            if (const int first = layout.sections.value(section); first > 0)
                return QStringLiteral("%1: [%2] stands twice, at lines %3 and %4; one section per projector")
                    .arg(shown(path), shown(section))
                    .arg(first)
                    .arg(number);
            layout.sections.insert(section, number);
        } else if (const qsizetype equals = line.indexOf('='); equals > 0) {
            const QString key = QString::fromUtf8(line.first(equals)).trimmed();
            QHash<QString, int> &keys = layout.keys[section];
            if (const int first = keys.value(key); first > 0)
                return QStringLiteral("%1 [%2]: \"%3\" stands twice, at lines %4 and %5")
                    .arg(shown(path), shown(section), shown(key))
                    .arg(first)
                    .arg(number);
            keys.insert(key, number);
        }
    }
    return layout;
}

CommandLine fromConfigFile(const QString &path) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return usageError(QStringLiteral("cannot read the configuration file %1").arg(shown(path)));
    if (info.size() > kMaxConfigFileSize)
        return usageError(QStringLiteral("%1 is too big for a configuration file (more than %2 bytes)")
                              .arg(shown(path))
                              .arg(kMaxConfigFileSize));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return usageError(
            QStringLiteral("cannot read the configuration file %1: %2").arg(shown(path), file.errorString()));
    const auto layout = readLayout(file.read(kMaxConfigFileSize), path);
    file.close();
    if (const QString *why = std::get_if<QString>(&layout))
        return usageError(*why);
    const FileLayout &lines = std::get<FileLayout>(layout);

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return usageError(QStringLiteral("%1 is not a configuration file (one [section] of key=value lines per "
                                         "projector)")
                              .arg(shown(path)));
    if (!settings.childKeys().isEmpty())
        return usageError(QStringLiteral("%1: \"%2\" stands outside a [projector] section")
                              .arg(shown(path), shown(settings.childKeys().constFirst())));
    const QDir folder = info.absoluteDir();
    CommandLine result;
    result.kind = CommandLine::Kind::Run;
    for (const QString &group : settings.childGroups()) {
        const QString where = QStringLiteral("%1 [%2]").arg(shown(path), shown(group));
        settings.beginGroup(group);
        Values values;
        for (const QString &key : settings.allKeys()) {
            if (!kKeys.contains(key))
                return usageError(QStringLiteral("%1: unknown key \"%2\"").arg(where, shown(key)));
            const QVariant value = settings.value(key);
            // An unquoted value with commas (the line settings) comes back as a list.
            QString text =
                value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',') : value.toString();
            if (hasControl(text)) {
                const int line = lines.keys.value(group).value(key);
                return usageError(
                    QStringLiteral("%1%2: the value of %3 holds a control character: \"%4\"%5")
                        .arg(where, line > 0 ? QStringLiteral(", line %1").arg(line) : QString(), key, shown(text),
                             text.contains(u'\n') ? QStringLiteral(" (a quote left open takes in the next lines)")
                                                  : QString()));
            }
            if (kFileKeys.contains(key) && !text.isEmpty())
                text = QDir::cleanPath(folder.absoluteFilePath(text));
            values.insert(key, text);
        }
        settings.endGroup();
        QString error;
        const auto section = makeSection(values, group, where, &error);
        if (!section)
            return usageError(error);
        result.sections.append(*section);
    }
    if (result.sections.isEmpty())
        return usageError(QStringLiteral("%1 has no [projector] section").arg(shown(path)));
    if (const QString clash = clashes(result.sections); !clash.isEmpty())
        return usageError(shown(path) + QStringLiteral(": ") + clash);
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
    // Without blocking: a FIFO would hold the start up until a writer came.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = QStringLiteral("cannot read the password file %1: %2")
                     .arg(shown(path), QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    QByteArray content;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = QStringLiteral("the password file %1 is not a regular file").arg(shown(path));
    } else if ((info.st_mode & 077) != 0) {
        *error =
            QStringLiteral("the password file %1 may be read by others (mode %2); make it owner-only: chmod 600 %1")
                .arg(shown(path))
                .arg(info.st_mode & 0777, 4, 8, QChar(u'0'));
    } else if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        *error = QStringLiteral("the password file %1 belongs to another user").arg(shown(path));
    } else {
        char buffer[1024];
        ssize_t got = 0;
        while (content.size() <= kMaxPasswordLength && (got = ::read(fd, buffer, sizeof buffer)) > 0)
            content.append(buffer, got);
        if (got < 0)
            *error = QStringLiteral("cannot read the password file %1: %2")
                         .arg(shown(path), QString::fromLocal8Bit(std::strerror(errno)));
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
        *error = content.isEmpty() ? QStringLiteral("the password file %1 holds no password").arg(shown(path))
                                   : QStringLiteral("the password in %1 is too long").arg(shown(path));
        return {};
    }
    return content;
}

CommandLine parseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption config(QStringLiteral("config"), QString(), QStringLiteral("FILE"));
    parser.addOptions({help, version, config});
    for (const QString &key : kKeys)
        parser.addOption(QCommandLineOption(key, QString(), QStringLiteral("VALUE")));
    const bool parsed = parser.parse(QStringList{QStringLiteral("mv70-bridge")} + arguments);
    if (parser.isSet(help) || parser.isSet(version)) {
        CommandLine result;
        result.kind = parser.isSet(help) ? CommandLine::Kind::Help : CommandLine::Kind::Version;
        return result;
    }
    for (const QString &unknown : parser.unknownOptionNames()) {
        if (unknown.endsWith(u"password"))
            return usageError(QStringLiteral("passwords are never given on the command line; use --%1-file FILE")
                                  .arg(shown(unknown)));
        const QString dashes = unknown.size() == 1 ? QStringLiteral("-") : QStringLiteral("--");
        return usageError(QStringLiteral("unknown option %1%2").arg(dashes, shown(unknown)));
    }
    if (!parsed) {
        // The parser's one other complaint of a value option is that it is
        // the last argument: the value is missing.
        const QString last = arguments.isEmpty() ? QString() : arguments.constLast();
        if (last.startsWith(u"--") && !last.contains(u'=')
            && (kKeys.contains(last.sliced(2)) || last.sliced(2) == u"config"))
            return usageError(QStringLiteral("%1 wants a value").arg(last));
        return usageError(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(shown(parser.positionalArguments().constFirst())));
    const auto once = [&](const QString &key) -> std::optional<QString> {
        const QStringList given = parser.values(key);
        if (given.size() > 1)
            return QStringLiteral("--%1 given twice").arg(key);
        return std::nullopt;
    };
    Values values;
    for (const QString &key : kKeys) {
        if (const auto twice = once(key))
            return usageError(*twice);
        if (parser.isSet(key))
            values.insert(key, parser.value(key));
    }
    if (const auto twice = once(QStringLiteral("config")))
        return usageError(*twice);
    if (parser.isSet(config)) {
        if (!values.isEmpty())
            return usageError(QStringLiteral("--config takes every setting from its file; --%1 cannot go with it")
                                  .arg(values.keys().constFirst()));
        return fromConfigFile(parser.value(config));
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
        "  --discovery-prefix TOPIC      Home Assistant's discovery prefix (default homeassistant)\n"
        "  --serial TEXT                 the projector's serial number, as PJLink SNUM tells it\n"
        "                                (at most 32 printable ASCII characters)\n"
        "  --status-poll MS              operating status period (default 5000)\n"
        "  --slow-poll MS                period of the other readings (default 60000)\n"
        "  --reply-window MS             how long a reply is waited for, 100 to 10000\n"
        "                                (default 2000: projectors answer late while warming up)\n"
        "  --log FILE                    append every exchange on the line to FILE; SIGHUP\n"
        "                                opens it again (after a log rotation)\n"
        "  --config FILE                 several projectors: one [NAME] section each, with the\n"
        "                                options above as keys (port=..., pjlink=...)\n"
        "  --help, --version\n"
        "\n"
        "Exit status: 0 after SIGTERM or SIGINT, 128+N after another signal N that ends it\n"
        "(SIGQUIT, SIGUSR1, ...), 1 when a PJLink port cannot be opened, 2 for a usage error.\n");
}

}  // namespace mv70::bridge
