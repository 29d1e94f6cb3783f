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

int baudOf(speed_t speed) {
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

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

    // The speed the panel has set on its end of the pseudo-terminal.
    int panelSpeed() const {
        termios attributes{};
        return tcgetattr(slave_, &attributes) == 0 ? baudOf(cfgetospeed(&attributes)) : 0;
    }

    void receive() {
        char buffer[512];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (const QByteArray &command : reader_.feed(QByteArrayView(buffer, n))) {
            // On a real line the two ends at different speeds hear each other
            // as noise: the projector understands nothing and stays silent.
            if (const int speed = panelSpeed(); speed != options_.baud) {
                log(shown(command) + " at " + QByteArray::number(speed) + " bit/s: not understood at "
                    + QByteArray::number(options_.baud));
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
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated MV70 projector on a pseudo-terminal. Prints the device path for the panel "
        "(MV70_COM1=<path> mv70-control) and answers its commands until it is stopped."));
    parser.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Also make <path> a symlink to the device."),
                                  QStringLiteral("path"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Line speed: 19200 (default) or 9600."),
                                  QStringLiteral("bit/s"));
    const QCommandLineOption countDown(QStringLiteral("countdown"),
                                       QStringLiteral("Count-down after power on, in ms (default 3000)."),
                                       QStringLiteral("ms"));
    const QCommandLineOption cooling(QStringLiteral("cooling"),
                                     QStringLiteral("Cooling-down after power off, in ms (default 3000)."),
                                     QStringLiteral("ms"));
    const QCommandLineOption lampHours(QStringLiteral("lamp-hours"),
                                       QStringLiteral("Lamp hours at start (default 1234)."), QStringLiteral("hours"));
    const QCommandLineOption hour(QStringLiteral("hour"),
                                  QStringLiteral("Lamp-on time that counts as one lamp hour, in ms (default 3600000)."),
                                  QStringLiteral("ms"));
    const QCommandLineOption reversal(QStringLiteral("reversal"),
                                      QStringLiteral("Picture reversal: 11 normal (default), 10, 01 or 00."),
                                      QStringLiteral("code"));
    const QCommandLineOption lampMode(QStringLiteral("lamp-mode"),
                                      QStringLiteral("Lamps in use: dual (default), no1 or no2."),
                                      QStringLiteral("mode"));
    const QCommandLineOption pressure(QStringLiteral("pressure"),
                                      QStringLiteral("Air pressure the sensor reads, in hPa (default 1013)."),
                                      QStringLiteral("hPa"));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Wait before each reply, in ms (default 0)."),
                                   QStringLiteral("ms"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Send replies in pieces of <n> bytes (default: whole)."),
                                   QStringLiteral("n"));
    const QCommandLineOption gap(QStringLiteral("gap"), QStringLiteral("Gap between pieces, in ms (default 50)."),
                                 QStringLiteral("ms"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Never answer."));
    const QCommandLineOption noise(QStringLiteral("noise"),
                                   QStringLiteral("Send random bytes (0x00 to 0xFF) between replies."));
    const QCommandLineOption noisePeriod(QStringLiteral("noise-period"),
                                         QStringLiteral("Time between bursts of noise, in ms (default 250)."),
                                         QStringLiteral("ms"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the noise, for a repeatable run."),
                                  QStringLiteral("n"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Log every command and reply on standard error."));
    parser.addOptions({link, baud, countDown, cooling, lampHours, hour, reversal, lampMode, pressure, delay, split, gap,
                       silent, noise, noisePeriod, seed, verbose});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
        return std::nullopt;
    }

    bool ok = true;
    const auto number = [&](const QCommandLineOption &option, qint64 low, qint64 high, auto &target) {
        if (!ok || !parser.isSet(option))
            return;
        bool parsed = false;
        const qint64 value = parser.value(option).toLongLong(&parsed);
        if (!parsed || value < low || value > high) {
            complain(QStringLiteral("--%1 takes a number from %2 to %3").arg(option.names().constLast()).arg(low).arg(high));
            ok = false;
            return;
        }
        target = static_cast<std::remove_reference_t<decltype(target)>>(value);
    };
    Options options;
    constexpr qint64 kTenMinutes = 600'000;
    if (parser.isSet(baud)) {
        options.baud = parser.value(baud).toInt();
        if (options.baud != 9600 && options.baud != 19200) {
            complain(QStringLiteral("--baud takes 19200 or 9600"));
            ok = false;
        }
    }
    number(countDown, 0, kTenMinutes, options.model.countDownMs);
    number(cooling, 0, kTenMinutes, options.model.coolingDownMs);
    number(lampHours, 0, 99'999, options.model.lampHours);
    number(hour, 1, 3'600'000, options.model.msPerLampHour);
    number(pressure, 0, 7000, options.model.pressureHpa);
    number(delay, 0, kTenMinutes, options.delayMs);
    number(split, 0, 1000, options.split);
    number(gap, 0, kTenMinutes, options.gapMs);
    number(noisePeriod, 1, kTenMinutes, options.noisePeriodMs);
    if (parser.isSet(seed)) {
        quint32 value = 0;
        number(seed, 0, std::numeric_limits<quint32>::max(), value);
        options.seed = value;
    }
    if (parser.isSet(reversal)) {
        options.model.reversal = parser.value(reversal).toLatin1();
        if (!QList<QByteArray>{"11", "10", "01", "00"}.contains(options.model.reversal)) {
            complain(QStringLiteral("--reversal takes 11, 10, 01 or 00"));
            ok = false;
        }
    }
    if (parser.isSet(lampMode)) {
        const QString mode = parser.value(lampMode);
        if (mode == QLatin1String("dual")) {
            options.model.lampMode = LampMode::Dual;
        } else if (mode == QLatin1String("no1")) {
            options.model.lampMode = LampMode::No1;
        } else if (mode == QLatin1String("no2")) {
            options.model.lampMode = LampMode::No2;
        } else {
            complain(QStringLiteral("--lamp-mode takes dual, no1 or no2"));
            ok = false;
        }
    }
    options.silent = parser.isSet(silent);
    options.noise = parser.isSet(noise);
    options.verbose = parser.isSet(verbose);
    options.link = parser.value(link);
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
