// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small statistics over samples in milliseconds, and the process's own
// accounting: CPU time per thread and peak resident memory.

#include <QString>

#include <cstdint>
#include <vector>

namespace bench {

struct Summary {
    std::size_t count = 0;
    double min = 0, median = 0, p90 = 0, p99 = 0, max = 0, mean = 0;
};
Summary summarize(std::vector<double> samples);
// "0.123" with the given number of decimals.
QString ms(double value, int decimals = 3);

// CPU time of the whole process, and of the calling thread, in ns.
std::int64_t processCpuNs();
std::int64_t threadCpuNs();

// A line of /proc/self/status such as VmHWM, in kB (0 if absent).
long statusKb(const char *field);
// Starts a new peak-resident-size window (VmHWM counts from now on).
bool resetPeakResident();

}  // namespace bench
