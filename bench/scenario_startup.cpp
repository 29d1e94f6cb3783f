// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: the program's own main in a process of its own, from the spawn
// to its first painted window.

#include <QList>

#include <optional>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "report.h"
#include "scenarios.h"
#include "stamping_peer.h"
#include "stats.h"

extern char **environ;

namespace bench {
namespace {

struct StartupRun {
    double appMs = -1, frameMs = -1;
    long peakKb = 0;
};

std::optional<StartupRun> startOnce(const QString &probe) {
    StampingPeer com1(1 << 12);
    qputenv("MV70_COM1", com1.path().toLocal8Bit());
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const QByteArray path = probe.toLocal8Bit();
    char *argv[] = {const_cast<char *>(path.constData()), nullptr};
    pid_t pid = 0;
    const std::int64_t started = nowNs();
    const int spawned = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return std::nullopt;
    }
    QByteArray output;
    char chunk[512];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0)
        output.append(chunk, n);
    ::close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    StartupRun run;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2)
            continue;
        if (words[0] == "app")
            run.appMs = double(words[1].toLongLong() - started) / kNsPerMs;
        else if (words[0] == "frame")
            run.frameMs = double(words[1].toLongLong() - started) / kNsPerMs;
        else if (words[0] == "peak-kb")
            run.peakKb = words[1].toLong();
    }
    if (run.frameMs < 0)
        return std::nullopt;
    return run;
}

}  // namespace

void startup(const QString &probe, int runs) {
    std::vector<StartupRun> all;
    for (int i = 0; i < runs; ++i) {
        const auto run = startOnce(probe);
        check(run.has_value(), QStringLiteral("start-up probe run %1 gave no first frame").arg(i));
        if (run)
            all.push_back(*run);
    }
    if (all.empty())
        return;
    std::vector<double> frames, apps;
    for (std::size_t i = 1; i < all.size(); ++i) {
        frames.push_back(all[i].frameMs);
        apps.push_back(all[i].appMs);
    }
    const Summary f = summarize(frames), a = summarize(apps);
    out << "## Start-up\n\n"
        << "`mv70-startup-probe` is the program's own `main.cpp` built with the same libraries and one more "
           "source file, which registers a start-up routine with QCoreApplication (it runs when the "
           "application object is constructed) and installs the same frame probe as the in-process "
           "benchmarks. It prints the CLOCK_MONOTONIC time when the application object exists and when the "
           "first frame in which the window itself was painted had been flushed, and its peak resident size "
           "then; after that it quits. Process start is the parent's clock just before posix_spawn(). COM1 is "
           "a fresh pseudo-terminal each time. "
        << all.size()
        << " runs; the first one is shown apart (the files it needs may not be in the page cache "
           "yet), the statistics are over the rest. Times in ms.\n\n"
        << "| | first run | median | p90 | max |\n|---|---:|---:|---:|---:|\n"
        << "| process start → application object | " << ms(all.front().appMs, 1) << " | " << ms(a.median, 1) << " | "
        << ms(a.p90, 1) << " | " << ms(a.max, 1) << " |\n"
        << "| process start → first painted window | " << ms(all.front().frameMs, 1) << " | " << ms(f.median, 1)
        << " | " << ms(f.p90, 1) << " | " << ms(f.max, 1) << " |\n\n"
        << "Peak resident size at the first frame: " << mib(all.back().peakKb) << " MiB.\n\n";
    if (frames.empty())
        frames.push_back(all.front().frameMs);
    goal(QStringLiteral("Start-up"), QStringLiteral("under 300 ms"),
         QStringLiteral("median %1 ms, max %2 ms (first run %3 ms)")
             .arg(ms(f.median, 1), ms(f.max, 1), ms(all.front().frameMs, 1)),
         f.count > 0 ? f.max < 300.0 : all.front().frameMs < 300.0);
}

}  // namespace bench
