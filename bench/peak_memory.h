// The process's peak resident memory for the benchmarks: set back before a measurement, read after it.
#pragma once

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace pxbench {

// Takes a field of /proc/self/status ("VmHWM:"); gives its value in KiB, 0 when it is not there.
inline long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return 0;
}

// A peak-memory measurement of this process.
struct PeakMeter {
    long residentKiB = 0;  // resident when the measurement started

    // Starts a measurement: freed memory goes back to the system and the high-water mark is set back
    // to what is resident now.
    void reset() {
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        residentKiB = statusKiB("VmRSS:");
    }
    // The peak since the last reset, in MiB.
    double peakMiB() const { return double(statusKiB("VmHWM:")) / 1024.0; }
    // Puts the peak and its rise over what was resident at the reset in the benchmark's counters.
    void report(benchmark::State& state) const {
        const long peak = statusKiB("VmHWM:");
        state.counters["peakMiB"] = double(peak) / 1024.0;
        state.counters["riseMiB"] = double(peak - residentKiB) / 1024.0;
    }
};

}  // namespace pxbench
