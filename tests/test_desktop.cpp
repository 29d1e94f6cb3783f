// SPDX-License-Identifier: GPL-3.0-or-later
// The program as the operator meets it on a desktop: mv70-control on an X
// display (Xvfb) with a window manager (openbox), COM1 on the simulated
// projector (mv70-sim), the mouse and keys pressed with xdotool. Every row
// starts its own display, window manager, simulator and program.
//
// The waits here are real; each has a bound of seconds and ends as soon as
// what it waits for is seen.

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

#include "form_fixture.h"
#include "sim_process.h"
#include "window/layout.h"

namespace {

constexpr int kSeconds = 1000;

// Xvfb with openbox on a display of its own, and the tools run on it.
class Desktop {
public:
    Desktop() {
        env_ = QProcessEnvironment::systemEnvironment();
        // Openbox keeps its settings and log under the home directory.
        env_.insert(QStringLiteral("HOME"), home_.path());
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.path());
        env_.insert(QStringLiteral("XDG_CACHE_HOME"), home_.path());
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.path());
        xvfb_.setProcessEnvironment(env_);
        // The display number, written to standard output once it is ready.
        xvfb_.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb_.waitForReadyRead(20 * kSeconds))
            return;
        display_ = u':' + QString::fromLatin1(xvfb_.readLine()).trimmed();
        env_.insert(QStringLiteral("DISPLAY"), display_);
        // Ready once it has announced itself on the root window, which
        // xprop -spy prints (with all the root window's properties) as it
        // happens.
        QProcess spy;
        spy.setProcessEnvironment(env_);
        spy.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("-spy")});
        wm_.setProcessEnvironment(env_);
        wm_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QByteArray said;
        ready_ = QTest::qWaitFor(
            [&] {
                return (said += spy.readAllStandardOutput()).contains("_NET_SUPPORTING_WM_CHECK(WINDOW): window id");
            },
            20 * kSeconds);
        spy.kill();
        spy.waitForFinished();
    }
    ~Desktop() {
        for (QProcess *process : {&wm_, &xvfb_}) {
            process->terminate();
            if (!process->waitForFinished(5 * kSeconds))
                process->kill();
            process->waitForFinished(5 * kSeconds);
        }
    }

    bool ready() const { return ready_; }
    const QProcessEnvironment &environment() const { return env_; }
    QString folder() const { return home_.path(); }

    // Runs a tool on the display; its standard output.
    QByteArray run(const QString &program, const QStringList &arguments, int timeoutMs = 20 * kSeconds) {
        QProcess tool;
        tool.setProcessEnvironment(env_);
        tool.start(program, arguments);
        if (!tool.waitForFinished(timeoutMs)) {
            tool.kill();
            tool.waitForFinished();
            return {};
        }
        return tool.readAllStandardOutput();
    }
    QByteArray xdotool(const QStringList &arguments) { return run(QStringLiteral("xdotool"), arguments); }

private:
    QTemporaryDir home_;
    QProcessEnvironment env_;
    QProcess xvfb_;
    QProcess wm_;
    QString display_;
    bool ready_ = false;
};

// Qt SerialPort's lock file of a device: LCK.. and the path without /dev/,
// every / a _, in the first of these folders that the program may write to.
QString lockFileOf(const QString &device) {
    QString name = device;
    if (name.startsWith(u"/dev/"))
        name.remove(0, 5);
    name.replace(u'/', u'_');
    for (const char *folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                               "/var/tmp", "/var/lib/lock"}) {
        const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

// mv70-control on the desktop, COM1 on a simulator of its own.
class Panel {
public:
    SimProcess sim;
    QProcess process;
    QString window;  // the X window of its client area
    QString lockFile;

    explicit Panel(Desktop &desktop) : desktop_(desktop) {
        if (sim.path().isEmpty())
            return;
        QProcessEnvironment env = desktop.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("MV70_COM1"), sim.path());
        env.insert(QStringLiteral("MV70_COM2"), QString::fromLatin1(missingDevice()));
        // Built with the sanitizers, the program meets the X libraries that
        // the offscreen tests never load. Two reports come from them, not
        // from us: libxkbcommon-x11 hands strndup a name that ends at its
        // length rather than at a NUL (a strict string check's false
        // alarm), and libdbus keeps one buffer to the end.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":strict_string_checks=0"));
        QFile suppressions(desktop.folder() + QStringLiteral("/lsan.supp"));
        if (suppressions.open(QIODevice::WriteOnly))
            suppressions.write("leak:libdbus-1.so\n");
        env.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("suppressions=") + suppressions.fileName());
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(MV70_CONTROL_PROGRAM), QStringList());
        window = QString::fromLatin1(desktop.xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                                                      QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                                      QStringLiteral("MV70  CONTROL")}))
                     .section(u'\n', 0, 0)
                     .trimmed();
        // The port is open once its lock file is there.
        (void)QTest::qWaitFor([this] { return !(lockFile = lockFileOf(sim.path())).isEmpty(); }, 10 * kSeconds);
    }
    ~Panel() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5 * kSeconds);
        }
    }

    bool ready() const { return !window.isEmpty() && !lockFile.isEmpty(); }

    // Presses the left mouse button on "+" of VOL and keeps it down until
    // the simulator has had the repeat's commands.
    bool holdVolumePlus() {
        const mv70::window::ControlSpec *plus = mv70::window::findControl("Command1");  // on the window itself
        const int x = mv70::window::twipsToPixels(plus->left + plus->width / 2);
        const int y = mv70::window::twipsToPixels(plus->top + plus->height / 2);
        desktop_.xdotool(
            {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x), QString::number(y)});
        desktop_.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        return QTest::qWaitFor([this] { return sim.received("C09") >= 3; }, 10 * kSeconds);
    }
    void releaseMouse() { desktop_.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}); }

    // Waits until no C09 has come for a second (a time, since a repeat that
    // has stopped sends nothing to wait for). False when they keep coming.
    bool repeatStops() {
        QElapsedTimer quiet;
        quiet.start();
        int count = sim.received("C09");
        return QTest::qWaitFor(
            [&] {
                if (const int now = sim.received("C09"); now != count) {
                    count = now;
                    quiet.start();
                }
                return quiet.elapsed() >= 1 * kSeconds;
            },
            10 * kSeconds);
    }

    // Waits for the program's end: its exit code, or -1.
    int ended() {
        if (!process.waitForFinished(10 * kSeconds) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

private:
    Desktop &desktop_;
};

}  // namespace

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void heldButtonStopsWhenTheWindowLosesTheMouse_data();
    void heldButtonStopsWhenTheWindowLosesTheMouse();
    void windowDestroyedFromOutsideEndsTheProgram();
    void signalsEndTheProgramAsEndDoes_data();
    void signalsEndTheProgramAsEndDoes();
};

// The release goes to another window (the desktop): the repeat must stop
// all the same.
void TestDesktop::heldButtonStopsWhenTheWindowLosesTheMouse_data() {
    QTest::addColumn<QStringList>("loss");  // xdotool's arguments; %w is the window
    QTest::newRow("minimised") << QStringList{QStringLiteral("windowminimize"), QStringLiteral("%w")};
    QTest::newRow("desktop shown") << QStringList{QStringLiteral("key"), QStringLiteral("super+d")};
    QTest::newRow("desktop switched") << QStringList{QStringLiteral("key"), QStringLiteral("ctrl+alt+Right")};
}

void TestDesktop::heldButtonStopsWhenTheWindowLosesTheMouse() {
    QFETCH(QStringList, loss);
    Desktop desktop;
    QVERIFY2(desktop.ready(), "Xvfb and openbox did not start (Debian packages xvfb, openbox, x11-utils)");
    Panel panel(desktop);
    QVERIFY2(panel.ready(), "the panel's window or its port did not come up");
    QVERIFY(panel.holdVolumePlus());
    loss.replaceInStrings(QStringLiteral("%w"), panel.window);
    desktop.xdotool(loss);
    panel.releaseMouse();
    const int atRelease = panel.sim.received("C09");
    QVERIFY2(panel.repeatStops(), qPrintable(QStringLiteral("still repeating: %1 commands since the release")
                                                 .arg(panel.sim.received("C09") - atRelease)));
    qInfo("%d commands while held, %d after the release", atRelease, panel.sim.received("C09") - atRelease);
    QCOMPARE(panel.process.state(), QProcess::Running);
}

// xdotool windowclose destroys the window: the program ends as END does,
// even with a button held, and its port's lock is gone.
void TestDesktop::windowDestroyedFromOutsideEndsTheProgram() {
    Desktop desktop;
    QVERIFY2(desktop.ready(), "Xvfb and openbox did not start (Debian packages xvfb, openbox, x11-utils)");
    Panel panel(desktop);
    QVERIFY2(panel.ready(), "the panel's window or its port did not come up");
    QVERIFY(panel.holdVolumePlus());
    desktop.xdotool({QStringLiteral("windowclose"), panel.window});
    QCOMPARE(panel.ended(), 0);
    panel.releaseMouse();
    QVERIFY2(!QFileInfo::exists(panel.lockFile), qPrintable(panel.lockFile));
    const int atEnd = panel.sim.received("C09");
    QVERIFY(panel.sim.drained());  // every command of the program has been read
    QCOMPARE(panel.sim.received("C09"), atEnd);
}

void TestDesktop::signalsEndTheProgramAsEndDoes_data() {
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestDesktop::signalsEndTheProgramAsEndDoes() {
    QFETCH(int, signo);
    Desktop desktop;
    QVERIFY2(desktop.ready(), "Xvfb and openbox did not start (Debian packages xvfb, openbox, x11-utils)");
    Panel panel(desktop);
    QVERIFY2(panel.ready(), "the panel's window or its port did not come up");
    QVERIFY(::kill(pid_t(panel.process.processId()), signo) == 0);
    QCOMPARE(panel.ended(), 0);
    QVERIFY2(!QFileInfo::exists(panel.lockFile), qPrintable(panel.lockFile));
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "test_desktop.moc"
