// Whole programs run as a user runs them, one alone or several side by side, timed by the wall clock,
// with the memory of everything they start: every process whose parent is one of theirs or that stays
// in their process group, its resident size read from /proc about every 20 ms and summed over the
// processes alive at that moment; the peak of those sums is the programs' memory together.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace pxbench {

// A program to start: its arguments (the first names the program; a path, not looked up) and the
// file that takes its standard output and error (empty: thrown away).
struct Launch {
    std::vector<std::string> argv;
    std::string logPath;
};

// How one program ended.
struct LaunchResult {
    int exitCode = -1;     // the code it exited with; -1 when it did not exit by itself
    int signal = 0;        // the signal that ended it, 0 when it exited
    double seconds = 0;    // wall time from the start of all programs to its end
    double maxrssMiB = 0;  // wait4's peak: the largest single process of its tree, not their sum
};

// What a side-by-side run measured.
struct SideBySide {
    std::vector<LaunchResult> runs;  // in the order of the launches
    double wallSeconds = 0;          // from the first start to the last end
    double peakMiB = 0;              // highest sum of the resident sizes of all the trees' processes
    int samples = 0;                 // how many times /proc was read
    bool timedOut = false;           // the programs were killed (with their process groups) at the time limit
    std::string error;               // why a program could not be started; empty when all were
    // True when every program started, exited by itself with code 0, and in time.
    bool allSucceeded() const;
};

// Takes programs, a time limit in seconds and the sampling period in milliseconds; starts them all
// at once, each in a process group of its own, waits for all of them and gives their times and
// memory. At the time limit every group is killed. A program that cannot be started is named in
// .error (the others are still waited for).
SideBySide runSideBySide(const std::vector<Launch>& launches, double timeLimitSeconds, int sampleMs = 20);

// The processes of the trees rooted at the given processes and what they hold in memory: reads /proc
// once; a process is counted when its parent is already counted or its process group is one of the
// roots' (so a worker left by a dead parent still counts). Known processes of other people are
// remembered so that each is read once.
struct TreeMemory {
    std::set<pid_t> roots;
    std::set<pid_t> members;
    std::set<pid_t> strangers;
    // Takes nothing, gives the sum of the resident sizes, in bytes, of the trees' processes alive now.
    std::uint64_t sample();
};

// Takes a list of numbers, gives its median (the mean of the middle two for an even count); 0 when empty.
double median(std::vector<double> values);

// Takes nothing, gives the load average of the last minute, five and fifteen minutes ("1.02 0.88 0.75");
// "?" when /proc cannot be read.
std::string loadAverage();

}  // namespace pxbench
