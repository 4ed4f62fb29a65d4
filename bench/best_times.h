// The fastest repetition of every benchmark, kept while the console shows the runs as usual, and the
// ratio of ours against its anchor printed from them.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace pxbench {

// Wall-clock and processor seconds of each benchmark's fastest repetition, by benchmark name.
struct BestTimes {
    std::map<std::string, double> wall;
    std::map<std::string, double> cpu;  // processor time of that repetition
};

// Console output as usual; the fastest repetition of every benchmark kept in the times given.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    explicit RecordingReporter(BestTimes& times) : times_(times) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                const double seconds = run.real_accumulated_time / double(run.iterations);
                double& best = times_.wall[run.run_name.function_name];
                if (best != 0 && seconds >= best) continue;
                best = seconds;
                times_.cpu[run.run_name.function_name] = run.cpu_accumulated_time / double(run.iterations);
            }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    BestTimes& times_;
};

// Takes the times and two benchmark names; prints the wall-clock and processor time (which a busy
// machine disturbs less) of ours against its anchor; nothing when either did not run.
inline void printRatio(BestTimes& times, const char* ours, const char* anchor) {
    const double a = times.wall[ours], b = times.wall[anchor];
    const double ac = times.cpu[ours], bc = times.cpu[anchor];
    if (a > 0 && b > 0 && bc > 0)
        std::printf("  %-20s %8.1f ms  %-18s %8.1f ms  wall ratio %.2f  (processor %.1f / %.1f ms, ratio %.2f)\n", ours,
                    a * 1e3, anchor, b * 1e3, a / b, ac * 1e3, bc * 1e3, ac / bc);
}

}  // namespace pxbench
