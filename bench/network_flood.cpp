// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-network-flood: what a hostile network serial server costs the panel.
//
// The window runs in this process with COM1 on a server on loopback that,
// on every connection, sends one pattern for ever as fast as TCP takes it:
//   negotiation     RFC 2217: Telnet commands and option talk, never data
//   subnegotiation  RFC 2217: one subnegotiation that never ends
//   iac-data        raw TCP: byte 0xFF, which raw TCP carries as data
// The server runs on a thread of its own; the figure is the CPU time of the
// window's thread (RUSAGE_THREAD) over the window, as a share of one core,
// with what the STATUS line said at the end.
//
//   mv70-network-flood [negotiation|subnegotiation|iac-data] [SECONDS]

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "window/form1.h"

namespace {

double threadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
         + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class FloodServer {
public:
    explicit FloodServer(QByteArray opening, QByteArray pattern)
        : opening_(std::move(opening)), pattern_(std::move(pattern)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(listener_, 4) != 0
            || ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FloodServer() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
    quint16 port() const { return port_; }
    long long sent() const { return sent_; }
    int connections() const { return connections_; }

private:
    void serve() {
        while (!stop_) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0)
                return;
            ++connections_;
            ::send(client, opening_.constData(), size_t(opening_.size()), MSG_NOSIGNAL);
            QByteArray block;
            while (block.size() < 16384)
                block += pattern_;
            char sink[4096];
            while (!stop_) {
                (void)::recv(client, sink, sizeof sink, MSG_DONTWAIT);  // the client's answers
                const ssize_t n = ::send(client, block.constData(), size_t(block.size()), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent_ += n;
            }
            ::close(client);
        }
    }

    QByteArray opening_;
    QByteArray pattern_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long long> sent_{0};
    std::atomic<int> connections_{0};
};

}  // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString pattern = arguments.value(1, QStringLiteral("negotiation"));
    const int seconds = arguments.value(2, QStringLiteral("10")).toInt();
    QTextStream out(stdout);

    // DO BINARY, DO COM-PORT-OPTION, WILL BINARY: the option is agreed, then the flood.
    const QByteArray agree("\xFF\xFD\x00\xFF\xFD\x2C\xFF\xFB\x00", 9);
    std::unique_ptr<FloodServer> server;
    QString scheme = QStringLiteral("rfc2217");
    if (pattern == u"negotiation") {
        // NOP, WILL/WONT ECHO, DO/DONT SUPPRESS-GO-AHEAD, a line state notice.
        server =
            std::make_unique<FloodServer>(agree, QByteArray("\xFF\xF1\xFF\xFB\x01\xFF\xFC\x01\xFF\xFD\x03\xFF\xFE\x03"
                                                            "\xFF\xFA\x2C\x6A\x00\xFF\xF0",
                                                            21));
    } else if (pattern == u"subnegotiation") {
        server = std::make_unique<FloodServer>(agree + QByteArray("\xFF\xFA\x2C", 3), QByteArray("x"));
    } else if (pattern == u"iac-data") {
        scheme = QStringLiteral("tcp");
        server = std::make_unique<FloodServer>(QByteArray(), QByteArray(1, '\xFF'));
    } else {
        out << "usage: mv70-network-flood [negotiation|subnegotiation|iac-data] [SECONDS]\n";
        return 2;
    }
    if (server->port() == 0) {
        out << "no loopback port\n";
        return 1;
    }
    qputenv("MV70_COM1", QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server->port()).toLocal8Bit());
    qputenv("MV70_COM2", "/nonexistent/mv70-no-such-tty");

    mv70::Form1 form;
    QStringList warnings;
    form.showWarning = [&warnings](const QString &text) { warnings << text; };
    form.Form_Load();
    form.show();

    QElapsedTimer wall;
    wall.start();
    const double cpuStart = threadCpuSeconds();
    QElapsedTimer lastTick;
    lastTick.start();
    qint64 longestTurnMs = 0;  // the longest gap between two 10 ms ticks
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestTurnMs = std::max(longestTurnMs, lastTick.restart()); });
    ticker.start(10);
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double cpu = threadCpuSeconds() - cpuStart;
    const double elapsed = double(wall.elapsed()) / 1000.0;

    out << QStringLiteral("pattern %1 over %2://, %3 s\n").arg(pattern, scheme).arg(elapsed, 0, 'f', 1)
        << QStringLiteral("window thread CPU: %1 s = %2 % of a core\n")
               .arg(cpu, 0, 'f', 2)
               .arg(100.0 * cpu / elapsed, 0, 'f', 1)
        << QStringLiteral("server sent %1 MB over %2 connections\n")
               .arg(double(server->sent()) / 1e6, 0, 'f', 1)
               .arg(server->connections())
        << QStringLiteral("longest event loop turn: %1 ms\n").arg(longestTurnMs)
        << QStringLiteral("STATUS: \"%1\"\n").arg(form.Label22->text());
    for (const QString &warning : warnings)
        out << QStringLiteral("warning: %1\n").arg(warning);
    return 0;
}
