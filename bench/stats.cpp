// SPDX-License-Identifier: GPL-3.0-or-later
#include "stats.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <time.h>

namespace bench {
namespace {

double at(const std::vector<double> &sorted, double q) {
    // Nearest rank: the smallest sample with at least q of them at or below it.
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

std::int64_t clockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

Summary summarize(std::vector<double> samples) {
    Summary s;
    s.count = samples.size();
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.min = samples.front();
    s.max = samples.back();
    s.median = at(samples, 0.5);
    s.p90 = at(samples, 0.9);
    s.p99 = at(samples, 0.99);
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    return s;
}

QString ms(double value, int decimals) { return QString::number(value, 'f', decimals); }

std::int64_t processCpuNs() { return clockNs(CLOCK_PROCESS_CPUTIME_ID); }
std::int64_t threadCpuNs() { return clockNs(CLOCK_THREAD_CPUTIME_ID); }

long statusKb(const char *field) {
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return 0;
}

bool resetPeakResident() {
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

}  // namespace bench
