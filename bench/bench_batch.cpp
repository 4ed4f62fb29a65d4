// A batch of A0 scans with one job and with two, beside the floor of the moment, in one run so that
// every figure sees the same machine load:
//   A  - pixelmend delete on 16 busy A0 sheets, --jobs 1;
//   B  - the same with --jobs 2;
//   S1 - pixelmend delete on one sheet alone: as many single-file runs one after the other as the
//        batch has files, S1 their mean;
//   S2 - two such single-file runs on two files started side by side (wall time of the pair): half
//        as many pairs one after the other, S2 their mean.
// The floor's speed-up is 2*S1/S2 (what two independent processes gain on this machine now, taken
// over as long a time as a batch takes); B's speed-up over A is given as a share of it. Each pass starts from fresh
// copies of the sheets (the command edits in place; copying is not timed), with Backup=0 so that passes do not fill the
// disk with backups. Each measurement is repeated (3 times unless --runs says) and the median reported. Memory: the
// resident sizes of all processes of the command's tree, read from /proc every 20 ms and summed; the highest sum is the
// peak of all workers together.
//   bench_batch [--tiny] [--runs N] [--json FILE] [--pixelmend PATH]
// --tiny: four 2000 x 2000 sheets instead of sixteen A0 ones (a quick check that the benchmark works);
// --pixelmend: the command to measure (default: the one built beside this program).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "process_runs.h"
#include "sheets.h"

namespace {

namespace fs = std::filesystem;
using pxbench::Launch;
using pxbench::SideBySide;

constexpr double kPassLimitSeconds = 1800;  // a pass that takes longer has hung: it is killed

// What one pass measured: its groups of programs, run one group after another.
struct Pass {
    double seconds = 0;            // the sum of the groups' wall times
    double peakMiB = 0;            // the highest of the groups' peaks (all processes of a group summed)
    double largestProcessMiB = 0;  // wait4's largest single process of the pass
};

// The run's settings, work folder and what it measured.
struct BenchBatch {
    bool tiny = false;
    int runs = 3;
    std::string jsonPath;
    int files = 16;
    std::string block = "1000,1000,2000,2000";
    std::string program;   // the pixelmend command measured
    bool hasJobs = false;  // whether that command takes --jobs
    fs::path work;
    fs::path pristine;
    std::string loadStart, loadEnd;
    std::map<std::string, std::vector<Pass>> passes;  // "A", "B", "S1", "S2" -> one per round
};
BenchBatch bench;

// Removes the work folder when the benchmark ends, however it ends.
struct WorkFolder {
    ~WorkFolder() {
        std::error_code ec;
        if (!bench.work.empty()) fs::remove_all(bench.work, ec);
    }
};

// Why the benchmark stops; main says it and the work folder is removed on the way out.
struct BenchFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& why) { throw BenchFailure(why); }

// Reads the command line into the settings; false (after saying why) when it is wrong.
bool parseArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--tiny") {
            bench.tiny = true;
        } else if (a == "--runs" && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != 0 || n < 1 || n > 99) return std::fprintf(stderr, "bench_batch: --runs takes 1 to 99\n"), false;
            bench.runs = int(n);
        } else if (a == "--json" && i + 1 < argc) {
            bench.jsonPath = argv[++i];
        } else if (a == "--pixelmend" && i + 1 < argc) {
            bench.program = argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench_batch [--tiny] [--runs N] [--json FILE] [--pixelmend PATH]\n");
            return false;
        }
    }
    if (bench.tiny) {
        bench.files = 4;
        bench.block = "500,500,1000,1000";
    }
    return true;
}

// Takes a program's arguments, gives what it prints on standard output (empty when it cannot run).
std::string outputOf(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    pclose(pipe);
    return text;
}

// Draws the sheet in a child process (the drawing's memory never swells this process, whose size
// forked programs start from) and writes it as the pristine G4 file.
void makePristine() {
    bench.pristine = bench.work / "pristine.tif";
    const pid_t pid = fork();
    if (pid < 0) fail("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        const pxbench::Sheet sheet = bench.tiny ? pxbench::makeBusyPart(0, 6000, 4000, 2000, 2000)
                                                : pxbench::makeSheet(pxbench::SheetKind::Busy);
        std::string error;
        if (sheet.bits.empty() || !pxbench::writeSheetG4(sheet, bench.pristine.string(), &error)) {
            std::fprintf(stderr, "bench_batch: cannot make the sheet: %s\n", error.c_str());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("the test sheet could not be made");
}

// Empties a folder and puts count fresh copies of the pristine sheet in it; gives their paths.
std::vector<std::string> freshCopies(const fs::path& folder, int count) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    if (ec) fail("cannot make " + folder.string() + ": " + ec.message());
    std::vector<std::string> paths;
    for (int i = 1; i <= count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "sheet-%02d.tif", i);
        const fs::path path = folder / name;
        fs::copy_file(bench.pristine, path, ec);
        if (ec) fail("cannot copy the sheet to " + path.string() + ": " + ec.message());
        paths.push_back(path.string());
    }
    return paths;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The delete command line for the given files and job count (0: no --jobs).
Launch deleteLaunch(const std::vector<std::string>& files, int jobs, const fs::path& log) {
    Launch launch{{bench.program, "delete"}, log.string()};
    launch.argv.insert(launch.argv.end(), files.begin(), files.end());
    for (const char* a : {"--block", bench.block.c_str(), "--yes", "--set", "Backup=0"}) launch.argv.push_back(a);
    if (jobs > 0) {
        launch.argv.push_back("--jobs");
        launch.argv.push_back(std::to_string(jobs));
    }
    return launch;
}

// Stops the benchmark when a pass failed or left a file as it was (a delete that changed nothing
// would time only the reading), naming the pass and showing the end of its log.
void checkPass(const std::string& name, const SideBySide& pass, const std::vector<Launch>& launches,
               const std::vector<std::string>& files) {
    std::string why = pass.error;
    if (why.empty() && pass.timedOut) why = "took longer than the limit and was killed";
    for (std::size_t i = 0; why.empty() && i < pass.runs.size(); ++i)
        if (pass.runs[i].exitCode != 0)
            why = pass.runs[i].signal ? "killed by signal " + std::to_string(pass.runs[i].signal)
                                      : "exit code " + std::to_string(pass.runs[i].exitCode);
    if (why.empty()) {
        const std::string original = fileBytes(bench.pristine.string());
        for (const std::string& file : files)
            if (fileBytes(file) == original) why = file + " was not changed";
    }
    if (why.empty()) return;
    std::string log;
    for (const Launch& launch : launches) log += fileBytes(launch.logPath);
    if (log.size() > 2000) log = "..." + log.substr(log.size() - 2000);
    fail("pass " + name + ": " + why + "\n" + log);
}

// Runs one pass: `groups` groups one after another, each of `programs` programs side by side on
// `filesEach` fresh copies (a folder per program, so that each finds its own default journal beside its
// first file; all copies are made before the first group starts); every group checked.
void runPass(const std::string& name, int groups, int programs, int filesEach, int jobs) {
    std::vector<std::vector<Launch>> launches(groups);
    std::vector<std::vector<std::string>> files(groups);
    for (int g = 0; g < groups; ++g)
        for (int p = 0; p < programs; ++p) {
            const std::string id = name + "-" + std::to_string(g + 1) + "-" + std::to_string(p + 1);
            const std::vector<std::string> copies = freshCopies(bench.work / id, filesEach);
            files[g].insert(files[g].end(), copies.begin(), copies.end());
            launches[g].push_back(deleteLaunch(copies, jobs, bench.work / (id + ".log")));
        }
    Pass pass;
    for (int g = 0; g < groups; ++g) {
        const SideBySide group = pxbench::runSideBySide(launches[g], kPassLimitSeconds);
        checkPass(name, group, launches[g], files[g]);
        pass.seconds += group.wallSeconds;
        pass.peakMiB = std::max(pass.peakMiB, group.peakMiB);
        for (const auto& run : group.runs) pass.largestProcessMiB = std::max(pass.largestProcessMiB, run.maxrssMiB);
    }
    bench.passes[name].push_back(pass);
}

// One round, its passes back to back: the floor's single-file runs one after the other (S1, as many
// as the batch has files) and in pairs side by side (S2), and the batches with one and two jobs.
// Every other round runs them in reverse order, so that a load that grows or falls during the run
// weighs on the first and the last pass alike.
void runRound(int round) {
    const std::vector<std::function<void()>> passes = {
        [] { runPass("S1", bench.files, 1, 1, 0); },
        [] { runPass("A", 1, 1, bench.files, bench.hasJobs ? 1 : 0); },
        [] { runPass("S2", bench.files / 2, 2, 1, 0); },
        [] {
            if (bench.hasJobs) runPass("B", 1, 1, bench.files, 2);
        },
    };
    if (round % 2)
        for (const auto& pass : passes) pass();
    else
        for (auto pass = passes.rbegin(); pass != passes.rend(); ++pass) (*pass)();
}

// Each round's figure of a pass: A and B their whole time, S1 the time of one file, S2 of one pair.
std::vector<double> wallTimes(const std::string& name) {
    const double runsPerPass = name == "S1" ? bench.files : name == "S2" ? bench.files / 2 : 1;
    std::vector<double> out;
    for (const Pass& pass : bench.passes[name]) out.push_back(pass.seconds / runsPerPass);
    return out;
}
std::vector<double> peaks(const std::string& name) {
    std::vector<double> out;
    for (const Pass& pass : bench.passes[name]) out.push_back(pass.peakMiB);
    return out;
}

// The figures the targets are judged on, from the medians.
struct Ratios {
    double speedup = 0;  // A / B
    double floor = 0;    // 2 * S1 / S2
    double share = 0;    // speedup / floor
    double perFile = 0;  // (A / files) / S1
    double peakMiB = 0;  // highest peak of B's passes (A's without --jobs)
};

Ratios ratios() {
    Ratios r;
    const double a = pxbench::median(wallTimes("A")), s1 = pxbench::median(wallTimes("S1"));
    const double s2 = pxbench::median(wallTimes("S2"));
    r.floor = s2 > 0 ? 2 * s1 / s2 : 0;
    r.perFile = s1 > 0 ? a / bench.files / s1 : 0;
    if (bench.hasJobs) {
        const double b = pxbench::median(wallTimes("B"));
        r.speedup = b > 0 ? a / b : 0;
        r.share = r.floor > 0 ? r.speedup / r.floor : 0;
    }
    const std::vector<double> p = peaks(bench.hasJobs ? "B" : "A");
    r.peakMiB = p.empty() ? 0 : *std::max_element(p.begin(), p.end());
    return r;
}

void printRow(const char* label, const std::vector<double>& values, const char* unit) {
    std::printf("  %-34s", label);
    for (double v : values) std::printf(" %8.2f", v);
    std::printf(" %8.2f %s\n", pxbench::median(values), unit);
}

void printTable(const Ratios& r) {
    std::printf("\n%d %s sheets, pixelmend delete --block %s --yes --set Backup=0; median of %d\n", bench.files,
                bench.tiny ? "busy 2000 x 2000" : "busy A0 (18720 x 13240, G4)", bench.block.c_str(), bench.runs);
    std::printf("load average at start %s, at end %s\n", bench.loadStart.c_str(), bench.loadEnd.c_str());
    std::printf("  %-34s", "");
    for (int i = 1; i <= bench.runs; ++i) std::printf("    run %d", i);
    std::printf("   median\n");
    const std::string aLabel = bench.hasJobs ? "A  --jobs 1, all files" : "A  all files (no --jobs yet)";
    printRow(aLabel.c_str(), wallTimes("A"), "s");
    if (bench.hasJobs) printRow("B  --jobs 2, all files", wallTimes("B"), "s");
    const std::string s1Label = "S1 one file alone (mean of " + std::to_string(bench.files) + ")";
    const std::string s2Label = "S2 two side by side (mean of " + std::to_string(bench.files / 2) + ")";
    printRow(s1Label.c_str(), wallTimes("S1"), "s");
    printRow(s2Label.c_str(), wallTimes("S2"), "s");
    printRow("peak memory A (sum of RSS)", peaks("A"), "MiB");
    if (bench.hasJobs) printRow("peak memory B (sum of RSS)", peaks("B"), "MiB");
    printRow("peak memory S1", peaks("S1"), "MiB");
    printRow("peak memory S2 (both)", peaks("S2"), "MiB");
    std::printf("ratios (of the medians):\n");
    if (bench.hasJobs) {
        std::printf("  speed-up B vs A                  %6.2fx\n", r.speedup);
        std::printf("  floor speed-up 2*S1/S2           %6.2fx\n", r.floor);
        std::printf("  B's speed-up / the floor's       %6.0f %%  (target >= 90 %%)%s\n", r.share * 100,
                    r.share >= 0.9 ? "" : "  MISSED");
    } else {
        std::printf("  speed-up B vs A                  n/a: this pixelmend delete takes no --jobs\n");
        std::printf("  floor speed-up 2*S1/S2           %6.2fx\n", r.floor);
    }
    std::printf("  per file in A / S1               %6.2fx   (target <= 1.1x)%s\n", r.perFile,
                r.perFile <= 1.1 ? "" : "  MISSED");
    std::printf("  peak memory of %s (highest)       %6.0f MiB (target < 600 MiB)%s\n", bench.hasJobs ? "B" : "A",
                r.peakMiB, r.peakMiB < 600 ? "" : "  MISSED");
    std::printf(
        "memory: every process of the command's tree (parent chain or process group) read from\n"
        "/proc/PID/statm every 20 ms; resident sizes summed (shared library pages count once per\n"
        "process, so the sum is on the high side); the highest sum of a pass is its peak.\n");
}

nlohmann::json passJson(const std::string& name) {
    nlohmann::json j;
    j["seconds"] = wallTimes(name);
    j["median_seconds"] = pxbench::median(wallTimes(name));
    j["peak_mib"] = peaks(name);
    std::vector<double> largest;
    for (const Pass& pass : bench.passes[name]) largest.push_back(pass.largestProcessMiB);
    j["largest_process_mib"] = largest;
    return j;
}

void writeJson(const Ratios& r) {
    nlohmann::json j;
    j["files"] = bench.files;
    j["sheet"] = bench.tiny ? "busy 2000x2000" : "busy A0 18720x13240 G4";
    j["block"] = bench.block;
    j["backup"] = 0;
    j["runs"] = bench.runs;
    j["jobs_available"] = bench.hasJobs;
    j["load_average"] = {{"start", bench.loadStart}, {"end", bench.loadEnd}};
    for (const auto& [name, passes] : bench.passes) j["passes"][name] = passJson(name);
    j["ratios"] = {{"floor_speedup", r.floor}, {"per_file_vs_single", r.perFile}, {"peak_mib", r.peakMiB}};
    if (bench.hasJobs) {
        j["ratios"]["speedup"] = r.speedup;
        j["ratios"]["share_of_floor"] = r.share;
    }
    const std::string temporary = bench.jsonPath + ".tmp";
    {
        std::ofstream out(temporary);
        out << j.dump(2) << "\n";
        if (!out) fail("cannot write " + temporary);
    }
    std::error_code ec;
    fs::rename(temporary, bench.jsonPath, ec);
    if (ec) fail("cannot write " + bench.jsonPath + ": " + ec.message());
}

// Makes the work folder and points the commands' settings at it (the user's own settings are neither
// read nor written).
void prepareWork() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pxbench-batch-XXXXXX";
    if (!mkdtemp(pattern.data())) fail("cannot make a work folder: " + std::string(std::strerror(errno)));
    bench.work = pattern;
    const fs::path home = bench.work / "home";
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
}

// The whole benchmark; throws BenchFailure when a pass fails.
void runBenchmark() {
    if (bench.program.empty())
        bench.program = (fs::read_symlink("/proc/self/exe").parent_path() / "pixelmend").string();
    if (access(bench.program.c_str(), X_OK) != 0) fail("no pixelmend command at " + bench.program);
    prepareWork();
    bench.hasJobs = outputOf("'" + bench.program + "' delete --help 2>&1").find("--jobs") != std::string::npos;
    std::printf("bench_batch: drawing the sheet...\n");
    std::fflush(stdout);
    makePristine();
    bench.loadStart = pxbench::loadAverage();
    for (int round = 1; round <= bench.runs; ++round) {
        std::printf("round %d of %d\n", round, bench.runs);
        std::fflush(stdout);
        runRound(round);
    }
    bench.loadEnd = pxbench::loadAverage();
    const Ratios r = ratios();
    printTable(r);
    if (!bench.jsonPath.empty()) writeJson(r);
}

}  // namespace

int main(int argc, char** argv) {
    if (!parseArguments(argc, argv)) return 2;
    WorkFolder cleanup;
    try {
        runBenchmark();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_batch: %s\n", e.what());
        return 1;
    }
    return 0;
}
