// mv70-sim: a simulated MV70 projector on a pseudo-terminal. It prints the
// device the panel should open and answers the panel's commands as the
// model in projector.h does; the options below change how and when it
// answers. docs/simulator.md describes it all.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <type_traits>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include "sim/projector.h"

using mv70::sim::CommandReader;
using mv70::sim::LampMode;
using mv70::sim::Projector;
using mv70::sim::ProjectorSettings;

namespace {

struct Options {
    ProjectorSettings model;
    int baud = 19200;
    int delayMs = 0;
    int split = 0;  // bytes per piece; 0: a reply goes out whole
    int gapMs = 50;
    bool silent = false;
    bool noise = false;
    int noisePeriodMs = 250;
    std::optional<quint32> seed;
    QString link;
    bool verbose = false;
};

void complain(const QString &message) {
    std::fprintf(stderr, "mv70-sim: %s\n", qPrintable(message));
}

// Printable ASCII as it is, everything else escaped, in quotes.
QByteArray shown(QByteArrayView bytes) {
    QByteArray text = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r') {
            text += "\\r";
        } else if (byte < 0x20 || byte >= 0x7F) {
            text += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            if (c == '"' || c == '\\')
                text += '\\';
            text += c;
        }
    }
    return text + '"';
}

speed_t speedConstant(int baud) { return baud == 9600 ? B9600 : B19200; }

bool makeRaw(int fd, int baud) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0)
        return false;
    cfmakeraw(&attributes);
    cfsetspeed(&attributes, speedConstant(baud));
    return tcsetattr(fd, TCSANOW, &attributes) == 0;
}

// The projector's end of the line.
class Line {
public:
    Line(int master, int slave, const Options &options)
        : master_(master), slave_(slave), options_(options), projector_(options.model, 0),
          notifier_(master, QSocketNotifier::Read),
          random_(options.seed ? QRandomGenerator(*options.seed) : QRandomGenerator::securelySeeded()) {
        clock_.start();
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { receive(); });
        output_.setSingleShot(true);
        output_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&output_, &QTimer::timeout, [this] { transmitDue(); });
        if (options_.noise) {
            noise_.setInterval(options_.noisePeriodMs);
            QObject::connect(&noise_, &QTimer::timeout, [this] { makeNoise(); });
            noise_.start();
        }
    }

private:
    void log(const QByteArray &line) const {
        if (options_.verbose)
            std::fprintf(stderr, "%s\n", line.constData());
    }

    // Whether the panel has set its end of the pseudo-terminal to our speed.
    bool panelAtOurSpeed() const {
        termios attributes{};
        return tcgetattr(slave_, &attributes) == 0 && cfgetospeed(&attributes) == speedConstant(options_.baud);
    }

    void receive() {
        char buffer[512];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (const QByteArray &command : reader_.feed(QByteArrayView(buffer, n))) {
            // On a real line the two ends at different speeds hear each other
            // as noise: the projector understands nothing and stays silent.
            if (!panelAtOurSpeed()) {
                log(shown(command) + " at another line speed: not understood");
                continue;
            }
            const QByteArray reply = projector_.answer(command, clock_.elapsed());
            if (options_.silent) {
                log(shown(command) + " -> (silent)");
                continue;
            }
            log(shown(command) + " -> " + shown(reply));
            queueReply(reply);
        }
    }

    // A reply goes out after the delay, in pieces with a gap between them
    // when it is split, and never before the reply ahead of it.
    void queueReply(const QByteArray &reply) {
        qint64 due = clock_.elapsed() + options_.delayMs;
        if (!queue_.empty())
            due = std::max(due, queue_.back().due + (options_.split > 0 ? options_.gapMs : 0));
        const qsizetype step = options_.split > 0 ? options_.split : reply.size();
        for (qsizetype i = 0; i < reply.size(); i += step) {
            queue_.push_back({due, reply.mid(i, step)});
            due += options_.gapMs;
        }
        transmitDue();
    }

    void transmitDue() {
        const qint64 now = clock_.elapsed();
        while (!queue_.empty() && queue_.front().due <= now) {
            transmit(queue_.front().bytes);
            queue_.pop_front();
        }
        if (!queue_.empty())
            output_.start(static_cast<int>(queue_.front().due - now));
    }

    // Random bytes on the line while no reply is on its way.
    void makeNoise() {
        if (!queue_.empty())
            return;
        QByteArray bytes(static_cast<qsizetype>(random_.bounded(1, 9)), '\0');
        for (char &byte : bytes)
            byte = static_cast<char>(random_.bounded(256));
        log("noise " + shown(bytes));
        transmit(bytes);
    }

    void transmit(const QByteArray &bytes) {
        // Nobody reading the panel's end fills the line up: the rest is lost,
        // as on a wire.
        const ssize_t n = ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size()));
        if (n < bytes.size())
            log("line full: " + QByteArray::number(bytes.size() - std::max<qsizetype>(n, 0)) + " bytes lost");
    }

    struct Piece {
        qint64 due;
        QByteArray bytes;
    };

    int master_;
    int slave_;
    const Options &options_;
    QElapsedTimer clock_;
    Projector projector_;
    CommandReader reader_;
    QSocketNotifier notifier_;
    QTimer output_;
    QTimer noise_;
    std::deque<Piece> queue_;
    QRandomGenerator random_;
};

std::optional<Options> parse(const QCoreApplication &app) {
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
    parser.setApplicationDescription(QStringLiteral(
        "A simulated MV70 projector on a pseudo-terminal. Prints the device path for the panel "
        "(MV70_COM1=<path> mv70-control) and answers its commands until it is stopped."));
    parser.addHelpOption();
    parser.addOptions({link, baud, reversal, lampMode, silent, noise, verbose});
    for (const Number &number : numbers)
        parser.addOption(option(number.name, number.help, number.valueName));
    parser.process(app);

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

// A symlink at `link` to `device`. An old symlink there is replaced; any
// other file is left alone.
bool makeLink(const QString &link, const QString &device) {
    const QFileInfo existing(link);
    if (existing.isSymLink()) {
        QFile::remove(link);
    } else if (existing.exists()) {
        complain(QStringLiteral("%1 exists and is not a symlink; left alone").arg(link));
        return false;
    }
    if (::symlink(device.toLocal8Bit().constData(), link.toLocal8Bit().constData()) != 0) {
        complain(QStringLiteral("cannot make the symlink %1: %2").arg(link, QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char *argv[]) {
    // Stopped by a signal, it still removes its symlink: the signals are
    // taken as events of the loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int stopSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, stopSignal);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    // It ends with the program that started it (a test, run.sh).
    prctl(PR_SET_PDEATHSIG, SIGTERM);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mv70-sim"));
    const std::optional<Options> options = parse(app);
    if (!options)
        return 2;

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        complain(QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }
    // The panel sets its end raw when it opens it; until then, and after it
    // closes it again, the line stays raw too (no echo, no CR to LF). The
    // projector's end is held open so the line stays up across the panel's
    // openings.
    if (!makeRaw(slave, options->baud) || !makeRaw(master, options->baud)) {
        complain(QStringLiteral("cannot set the line raw: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const QString device = QString::fromLocal8Bit(name);
    if (!options->link.isEmpty() && !makeLink(options->link, device))
        return 1;

    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    QSocketNotifier stop(signalFd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    Line line(master, slave, *options);
    std::printf("%s\n", name);
    std::fflush(stdout);

    const int result = QCoreApplication::exec();
    if (!options->link.isEmpty())
        QFile::remove(options->link);
    return result;
}
