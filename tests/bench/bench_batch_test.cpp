// The batch benchmark's protocol, run against stand-in commands: which command lines each pass gives
// (jobs, one file per single-file run, the block and Backup=0), the ratios it draws from the times
// (a stand-in that takes 0.2 s per file and shares its files among its jobs gains 2x everywhere), and
// its refusal to time a command that fails or changes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A folder of its own for each test, removed afterwards.
struct Scratch {
    fs::path dir = fs::temp_directory_path() / ("pxbench-batch-test-" + std::to_string(getpid()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// Writes an executable shell script; gives its path.
std::string script(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
}

// A stand-in for pixelmend: takes --jobs, notes its arguments in `log`, changes each file it is
// given and takes 0.2 s a file, its files shared among its jobs.
std::string standIn(const fs::path& dir, const fs::path& log) {
    return script(dir / "fake-pixelmend",
                  "[ \"$2\" = --help ] && { echo '  --jobs N'; exit 0; }\n"
                  "echo \"$*\" >> '" +
                      log.string() +
                      "'\n"
                      "n=0; jobs=1; prev=\n"
                      "for a in \"$@\"; do\n"
                      "  case \"$a\" in *.tif) printf x >> \"$a\"; n=$((n+1));; esac\n"
                      "  [ \"$prev\" = --jobs ] && jobs=$a\n"
                      "  prev=$a\n"
                      "done\n"
                      "sleep $(awk \"BEGIN{print 0.2*$n/$jobs}\")\n");
}

// Runs the benchmark with its arguments; gives its exit code and what it printed.
int runBench(const std::string& arguments, std::string* output) {
    FILE* pipe = popen((std::string(PXBENCH_BATCH) + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int countLines(const std::string& text, const std::string& part, int tifs) {
    std::istringstream in(text);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        int n = 0;
        for (std::size_t at = line.find(".tif"); at != std::string::npos; at = line.find(".tif", at + 1)) ++n;
        if (line.find(part) != std::string::npos && n == tifs) ++count;
    }
    return count;
}

TEST(BatchBenchProtocol, GivesEachPassItsCommandLinesAndDrawsTheRatios) {
    Scratch scratch;
    const fs::path log = scratch.dir / "calls.txt", json = scratch.dir / "figures.json";
    std::string output;
    ASSERT_EQ(
        runBench("--tiny --runs 1 --json " + json.string() + " --pixelmend " + standIn(scratch.dir, log), &output), 0)
        << output;
    std::ifstream calls(log);
    const std::string text((std::istreambuf_iterator<char>(calls)), std::istreambuf_iterator<char>());
    const std::string common = "--block 500,500,1000,1000 --yes --set Backup=0";
    EXPECT_EQ(countLines(text, common + " --jobs 1", 4), 1) << text;  // A: the four files, one job
    EXPECT_EQ(countLines(text, common + " --jobs 2", 4), 1) << text;  // B: the four files, two jobs
    EXPECT_EQ(countLines(text, common, 1), 8) << text;                // single-file runs: S1 four, S2 two pairs
    EXPECT_EQ(countLines(text, "--jobs", 1), 0) << "a single-file run was given --jobs";

    std::ifstream in(json);
    const nlohmann::json figures = nlohmann::json::parse(in);
    const auto& r = figures["ratios"];
    EXPECT_NEAR(r["speedup"].get<double>(), 2.0, 0.45);
    EXPECT_NEAR(r["floor_speedup"].get<double>(), 2.0, 0.45);
    EXPECT_NEAR(r["share_of_floor"].get<double>(), 1.0, 0.25);
    EXPECT_NEAR(r["per_file_vs_single"].get<double>(), 1.0, 0.25);
    EXPECT_NEAR(figures["passes"]["S1"]["seconds"][0].get<double>(), 0.2, 0.12);  // one file
    EXPECT_NEAR(figures["passes"]["S2"]["seconds"][0].get<double>(), 0.2, 0.12);  // one pair
    EXPECT_NEAR(figures["passes"]["A"]["seconds"][0].get<double>(), 0.8, 0.3);    // the whole batch
}

TEST(BatchBenchProtocol, RefusesToTimeACommandThatFailsOrChangesNothing) {
    Scratch scratch;
    std::string output;
    const std::string idle = script(scratch.dir / "idle", "exit 0\n");
    EXPECT_EQ(runBench("--tiny --runs 1 --pixelmend " + idle, &output), 1);
    EXPECT_NE(output.find("was not changed"), std::string::npos) << output;

    output.clear();
    const std::string failing = script(scratch.dir / "failing", "echo 'cannot load the add-on'; exit 3\n");
    EXPECT_EQ(runBench("--tiny --runs 1 --pixelmend " + failing, &output), 1);
    EXPECT_NE(output.find("exit code 3"), std::string::npos) << output;
    EXPECT_NE(output.find("cannot load the add-on"), std::string::npos) << "the command's own words are not shown";
}

}  // namespace
