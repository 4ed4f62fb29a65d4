// The batch benchmark's measuring: programs side by side timed to their own ends, killed whole at the
// time limit, and the memory of exactly their process trees.
#include "process_runs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using pxbench::Launch;

Launch shell(const std::string& script, const std::string& log = {}) { return Launch{{"/bin/sh", "-c", script}, log}; }

// A pipeline whose dd holds `mib` MiB resident for about `seconds` (its reader waits before reading).
std::string holding(int mib, double seconds) {
    return "dd if=/dev/zero bs=" + std::to_string(mib) + "M count=1 2>/dev/null | (sleep " + std::to_string(seconds) +
           "; cat >/dev/null)";
}

fs::path scratch(const std::string& name) {
    return fs::temp_directory_path() / ("pxbench-runs-" + std::to_string(getpid()) + "-" + name);
}

std::string contents(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Memory: the sum over the trees' processes, grandchildren and orphans in the group included, while a
// large process of someone else (here a child of the test itself) is left out.
TEST(BatchBenchMemory, SumsTheWholeTreeAndNothingElse) {
    FILE* stranger = popen((holding(96, 2.0) + " &").c_str(), "r");
    ASSERT_NE(stranger, nullptr);
    usleep(200'000);
    const auto run =
        pxbench::runSideBySide({shell("(" + holding(32, 1.0) + ") & (" + holding(32, 1.0) + ") & wait")}, 30);
    pclose(stranger);
    ASSERT_TRUE(run.allSucceeded()) << run.error;
    EXPECT_GE(run.peakMiB, 64.0);                                           // both grandchildren's buffers, at once
    EXPECT_LT(run.peakMiB, 120.0) << "someone else's process was counted";  // 64 and the shells' few MiB
    EXPECT_GT(run.samples, 10);
    EXPECT_GE(run.runs[0].maxrssMiB, 32.0);  // wait4's figure: one process, not the sum
    EXPECT_LT(run.runs[0].maxrssMiB, 64.0);
}

TEST(BatchBenchMemory, CountsAWorkerWhoseParentEndedByItsProcessGroup) {
    // The middle shell leaves at once; the pipeline started after it is an orphan of the group.
    const auto run = pxbench::runSideBySide({shell("( (sleep 0.3; " + holding(40, 1.0) + ") & ); sleep 1.2")}, 30);
    ASSERT_TRUE(run.allSucceeded()) << run.error;
    EXPECT_GE(run.peakMiB, 40.0);
}

// Timing: side by side, each program timed to its own end, whatever order they end in.
TEST(BatchBenchLaunches, RunsSideBySideAndTimesEachToItsEnd) {
    const auto run = pxbench::runSideBySide({shell("sleep 0.8"), shell("sleep 0.2"), shell("sleep 0.8")}, 30);
    ASSERT_TRUE(run.allSucceeded()) << run.error;
    EXPECT_GE(run.wallSeconds, 0.8);
    EXPECT_LT(run.wallSeconds, 1.4) << "run one after the other";
    EXPECT_GE(run.runs[1].seconds, 0.2);
    EXPECT_LT(run.runs[1].seconds, 0.6) << "the short run was timed to a longer one's end";
}

TEST(BatchBenchLaunches, TellsHowEachProgramEnded) {
    const fs::path log = scratch("log");
    const auto run = pxbench::runSideBySide(
        {shell("echo said; echo complained >&2", log.string()), shell("exit 3"), shell("kill -9 $$")}, 30);
    EXPECT_EQ(run.runs[0].exitCode, 0);
    EXPECT_EQ(contents(log), "said\ncomplained\n");
    EXPECT_EQ(run.runs[1].exitCode, 3);
    EXPECT_EQ(run.runs[2].exitCode, -1);
    EXPECT_EQ(run.runs[2].signal, 9);
    EXPECT_FALSE(run.allSucceeded());
    fs::remove(log);

    const auto missing = pxbench::runSideBySide({Launch{{"/nonexistent/pixelmend"}, {}}, shell("true")}, 30);
    EXPECT_NE(missing.error.find("cannot run /nonexistent/pixelmend"), std::string::npos) << missing.error;
    EXPECT_EQ(missing.runs[1].exitCode, 0);
    EXPECT_FALSE(missing.allSucceeded());
}

TEST(BatchBenchLaunches, KillsTheWholeGroupAtTheTimeLimit) {
    const fs::path marker = scratch("marker");
    const auto run = pxbench::runSideBySide({shell("(sleep 1; touch '" + marker.string() + "') & sleep 30")}, 0.4);
    EXPECT_TRUE(run.timedOut);
    EXPECT_LT(run.wallSeconds, 5.0);
    EXPECT_EQ(run.runs[0].signal, 9);
    EXPECT_FALSE(run.allSucceeded());
    usleep(1'200'000);
    EXPECT_FALSE(fs::exists(marker)) << "a process of the killed program's group lived on";
    fs::remove(marker);
}

TEST(BatchBenchLaunches, MedianOfUnsortedRuns) {
    EXPECT_EQ(pxbench::median({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(pxbench::median({4.0, 1.0, 3.0, 2.0}), 2.5);
    EXPECT_EQ(pxbench::median({}), 0.0);
}

}  // namespace
