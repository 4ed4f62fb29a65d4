// The batch runner: the files of a batch command gathered from files, folders and lists, run in
// worker processes (a journal to resume from, progress, a report, a share of the files for one
// machine, a memory limit), with one line per file and a summary.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands.h"

namespace pixelmend {

// The runner's options.
struct RunnerOptions {
    unsigned jobs = 0;                         // --jobs N (0: the number of cores)
    std::string journal;                       // --journal FILE (empty: the default place)
    bool recursive = false;                    // --recursive
    std::string filesFrom;                     // --files-from LIST ("-": standard input)
    std::string report;                        // --report FILE.json
    bool dryRun = false;                       // --dry-run
    std::optional<std::pair<int, int>> shard;  // --shard K/N
    std::optional<std::uint64_t> maxMemory;    // --max-memory SIZE, bytes
    bool quiet = false;                        // --quiet
};

// The help lines of the runner's options.
extern const char* const kRunnerHelp;

// Takes the arguments and the index of an option in them; when it is one of the runner's, reads it
// (and its value, advancing i) into o and gives true; false when it is not; *problem when it is wrong.
bool takeRunnerOption(Args args, std::size_t& i, RunnerOptions& o, std::string* problem);

// A worker's outcome for one file.
struct WorkOutcome {
    std::string result;  // "done", "unchanged" or "failed"
    std::string found;   // what the command found (an angle, a count), or empty
    std::string detail;  // what it changed, or why nothing changed
    std::string reason;  // why it failed
    std::string fatal;   // a failure that ends the whole run (the add-on cannot load), or empty
};

// What the runner runs.
struct BatchJob {
    std::string command;                                       // the command's name, at the start of every line
    nlohmann::json identity;                                   // the command and its options that change results
    std::vector<std::string> inputs;                           // files and folders as given
    std::string plan;                                          // what --dry-run says is done to each file
    double memoryFactor = 3.0;                                 // a worker's peak bytes per byte of the decoded image
    std::function<WorkOutcome(const std::string& file)> work;  // runs in a worker process
};

// Takes the job and options, runs it; gives the exit code (0 no failure, 1 some file failed,
// 2 a usage error or a failure that ends the run, 130 stopped by Ctrl-C, 143 by SIGTERM).
int runJob(const BatchJob& job, const RunnerOptions& o);

}  // namespace pixelmend
