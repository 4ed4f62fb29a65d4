// The batch runner: gathers the files, decides from the journal what is left to do, runs the
// files in worker processes within the memory limit, and tells what happened.
#include "cli/batch_run.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

#include "cli/batch_inputs.h"
#include "cli/batch_journal.h"
#include "cli/batch_workers.h"
#include "subhost/imagefile/imagefile.h"

namespace pixelmend {

const char* const kRunnerHelp =
    "  FILE may be a folder: its raster files (--recursive: its subfolders' too), never the\n"
    "  backups and outputs of runs\n"
    "  --files-from LIST     also the files and folders listed in LIST, one a line (- : standard input)\n"
    "  --jobs N              files worked on at once, each in a process of its own (default: cores)\n"
    "  --journal FILE        where the run records each file, to resume a stopped run with the same\n"
    "                        command (default: .pixelmend-journal beside the first file or in the\n"
    "                        first folder; .pixelmend-journal.K-of-N with --shard)\n"
    "  --shard K/N           only the K-th of N shares of the files (by a hash of each path as listed)\n"
    "  --max-memory SIZE     start files only while their estimated memory fits (e.g. 2G, 600M;\n"
    "                        default: half of the memory available)\n"
    "  --report FILE.json    a report of every file and the summary\n"
    "  --dry-run             list what would be done; write nothing\n"
    "  --quiet               print only failures and the summary\n";

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1024 * 1024;
// The reason given for the files a stopped run did not start.
constexpr const char* kNotStarted = "not started: the run was stopped";
// A worker's memory beyond the image: the process, the host, the add-on and its libraries (about
// 11 MB measured on a small file), with room.
constexpr std::uint64_t kWorkerBase = 16 * kMiB;

// A whole number from min to max; nullopt for anything else.
std::optional<long> wholeNumber(const std::string& text, long min, long max) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != 0 || errno == ERANGE || v < min || v > max) return std::nullopt;
    return v;
}

// "2G", "600M", "4096K" or bytes; nullopt when bad or zero.
std::optional<std::uint64_t> sizeValue(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t unit = 1;
    std::string digits = text;
    switch (std::toupper(static_cast<unsigned char>(text.back()))) {
    case 'K':
        unit = 1024;
        break;
    case 'M':
        unit = kMiB;
        break;
    case 'G':
        unit = 1024 * kMiB;
        break;
    case 'T':
        unit = 1024 * 1024 * kMiB;
        break;
    default:
        break;
    }
    if (unit != 1) digits.pop_back();
    const auto v = wholeNumber(digits, 1, 1L << 40);
    if (!v || std::uint64_t(*v) > (std::uint64_t(1) << 50) / unit) return std::nullopt;
    return std::uint64_t(*v) * unit;
}

// Half of MemAvailable from /proc/meminfo; 1 GiB when it cannot be read.
std::uint64_t defaultMemoryLimit() {
    std::ifstream in("/proc/meminfo");
    for (std::string key; in >> key;) {
        std::uint64_t kib = 0;
        in >> kib;
        if (key == "MemAvailable:") return kib * 1024 / 2;
        in.ignore(1 << 16, '\n');
    }
    return 1024 * kMiB;
}

std::string mib(std::uint64_t bytes) { return std::to_string((bytes + kMiB - 1) / kMiB); }

std::string clockText(double seconds) {
    const long s = long(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// One file's line of the run and its report entry.
struct FileRecord {
    std::string result;  // "done", "unchanged", "failed", "skipped"; empty: not reached yet
    std::string reason;
    double seconds = 0;
    Made made;
};

// A file being worked on.
struct Running {
    std::size_t index = 0;
    std::uint64_t estimate = 0;
    Clock::time_point started;
    std::set<std::string> namesBefore;
};

// The state of one run.
struct Run {
    Run(const BatchJob& j, const RunnerOptions& o) : job(j), options(o) {}
    const BatchJob& job;
    const RunnerOptions& options;
    std::vector<InputFile> files;
    std::vector<FileRecord> records;
    std::optional<Journal> journal;
    std::map<std::size_t, Running> running;  // by task (file index)
    std::uint64_t memoryLimit = 0;
    std::uint64_t memoryInUse = 0;
    unsigned jobs = 1;
    bool progress = false;  // a progress line on the terminal
    bool progressShown = false;
    std::string fatal;  // a failure that ends the run
    Clock::time_point started = Clock::now();
    std::size_t toRun = 0;  // files to be worked on this run
    std::size_t finished = 0;
    std::size_t failures = 0;
};

// Clears the progress line (when shown) so that a whole line can be printed.
void clearProgress(Run& run) {
    if (!run.progressShown) return;
    std::cout << "\r\x1b[K";
    run.progressShown = false;
}

// Prints one whole line on stdout (the progress line, if any, redrawn after it).
void printLine(Run& run, const std::string& line) {
    clearProgress(run);
    std::cout << line << "\n";
    std::cout.flush();
}

// Redraws the progress line: files done of the total, failures, time, time left, current files.
void drawProgress(Run& run) {
    if (!run.progress) return;
    const double elapsed = std::chrono::duration<double>(Clock::now() - run.started).count();
    std::string line = run.job.command + ": " + std::to_string(run.finished) + "/" + std::to_string(run.toRun) +
                       " files, " + std::to_string(run.failures) + " failed, " + clockText(elapsed) + " elapsed";
    if (run.finished > 0 && run.finished < run.toRun)
        line += ", about " + clockText(elapsed / double(run.finished) * double(run.toRun - run.finished)) + " left";
    if (!run.running.empty()) {
        line += "; now";
        for (const auto& [task, r] : run.running) line += " " + run.files[task].shown;
    }
    winsize ws{};
    const std::size_t width = ::ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10 ? ws.ws_col - 1 : 79;
    if (line.size() > width) line = line.substr(0, width - 3) + "...";
    std::cout << "\r\x1b[K" << line;
    std::cout.flush();
    run.progressShown = true;
}

// The line of a file's outcome, in the form batch commands have always printed it.
std::string outcomeLine(const Run& run, std::size_t index, const WorkOutcome& w) {
    std::string line = run.job.command + " " + run.files[index].shown + ": " + (w.found.empty() ? "" : w.found + ", ");
    if (w.result == "unchanged") return line + "unchanged (" + w.detail + ")";
    if (w.result == "done") return line + "done" + (w.detail.empty() ? "" : " (" + w.detail + ")");
    return line + "FAILED: " + w.reason + (w.detail.empty() ? "" : " (" + w.detail + ")");
}

// Notes a file's end: its record, its line (failures always; the rest unless quiet or on the
// progress line).
void noteOutcome(Run& run, std::size_t index, const WorkOutcome& w, double seconds, Made made) {
    FileRecord& r = run.records[index];
    r.result = w.result;
    r.reason = w.result == "failed" ? w.reason : w.detail;
    r.seconds = seconds;
    r.made = std::move(made);
    ++run.finished;
    if (w.result == "failed") ++run.failures;
    if (w.result == "failed" || (!run.options.quiet && !run.progress)) printLine(run, outcomeLine(run, index, w));
}

// Notes a skipped file (printed unless quiet or on the progress line).
void noteSkipped(Run& run, std::size_t index, const std::string& reason) {
    run.records[index].result = "skipped";
    run.records[index].reason = reason;
    if (!run.options.quiet && !run.progress)
        printLine(run, run.job.command + " " + run.files[index].shown + ": skipped (" + reason + ")");
}

// Removes the hidden working files a stopped run left for the file and its derived files:
// temporaries (".NAME.pxmtmp-..."), undo links (".NAME.undo-...") and held originals
// (".NAME.batch-..."). Only files of this file: another machine may be working in the folder.
void removeLeftovers(const fs::path& file) {
    std::error_code ec;
    const std::string name = file.filename().string();
    for (fs::directory_iterator it(file.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.size() < 2 || entry[0] != '.') continue;
        for (const char* kind : {".pxmtmp-", ".undo-", ".batch-"}) {
            const std::size_t at = entry.rfind(kind);
            if (at == std::string::npos || at < 1) continue;
            const std::string of = entry.substr(1, at - 1);
            if (of == name || isDerivedNameOf(of, file)) {
                std::error_code removeError;
                fs::remove(it->path(), removeError);
            }
        }
    }
}

// The files in after and not in before, the first backup and first other output among them.
Made madeBetween(const std::set<std::string>& before, const std::set<std::string>& after) {
    Made made;
    for (const std::string& n : after) {
        if (before.count(n)) continue;
        made.all.insert(n);
        std::string& slot = isBackupName(n) ? made.backup : made.output;
        if (slot.empty()) slot = n;
    }
    return made;
}

// What the journal says of a file before the run: an empty text when it is to be worked on, or
// why it is skipped. A file a stopped run was working on is cleaned up to be redone when it is as
// it was, or recorded as done when the stopped run's write landed.
std::string resumeVerdict(Run& run, const InputFile& f) {
    if (!run.journal) return {};
    const JournalFile* j = run.journal->find(f.path);
    if (!j) return {};
    const FileStamp now = stampOf(f.path);
    const bool sameContent = now.exists && now.size == j->size && now.modifiedNs() == j->mtime;
    if (j->ended) return sameContent && j->result != "failed" ? "already done" : "";
    if (!j->begun || !now.exists || run.options.dryRun) return {};
    const std::set<std::string> before(j->names.begin(), j->names.end());
    const Made made = madeBetween(before, derivedNames(f.path));
    removeLeftovers(f.path);
    if (sameContent && std::int64_t(now.inode) == j->inode) {
        for (const std::string& n : made.all) {
            std::error_code ec;
            fs::remove(fs::path(f.path).parent_path() / n, ec);
        }
        return {};
    }
    std::string error;
    if (!run.journal->end(f.path, "done", now, made, "finished by a stopped run", &error)) run.fatal = error;
    return "already done (by a stopped run)";
}

// The memory a worker on this file is estimated to need at its peak. An image the host refuses
// from its header (too many pixels, too large decoded) takes no pixel memory: the worker says why.
std::uint64_t estimateMemory(const Run& run, const std::string& path) {
    namespace img = subhost::imagefile;
    const auto info = img::readInfo(path);
    if (!info.ok) return kWorkerBase;
    img::ReadOptions limits;
    std::string why;
    img::readOptionsFrom(std::getenv("PXMEND_MAX_PIXELS"), limits, why);
    const double decoded = double(img::rowBytes(info.info.mode, info.info.width)) * info.info.height;
    const double machine = double(::sysconf(_SC_PHYS_PAGES)) * double(::sysconf(_SC_PAGESIZE));
    if (double(info.info.width) * info.info.height > double(limits.maxPixels) ||
        decoded > double(img::kMaxDecodedBytes) || (machine > 0 && decoded > machine / 4))
        return kWorkerBase;
    return kWorkerBase + std::uint64_t(decoded * run.job.memoryFactor);
}

// A worker's outcome as one line of JSON, and back.
std::string encodeOutcome(const WorkOutcome& w) {
    return nlohmann::json{
        {"result", w.result}, {"found", w.found}, {"detail", w.detail}, {"reason", w.reason}, {"fatal", w.fatal}}
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
WorkOutcome decodeOutcome(const WorkerEnd& end) {
    WorkOutcome w;
    const nlohmann::json j = nlohmann::json::parse(end.message, nullptr, false);
    if (!j.is_object() || !j.contains("result")) {
        w.result = "failed";
        w.reason = !end.trouble.empty()                   ? end.trouble
                   : j.is_object() && j.contains("crash") ? "failed: " + j.value("crash", "")
                                                          : "the worker process ended without telling its outcome";
        return w;
    }
    w.result = j.value("result", "failed");
    w.found = j.value("found", "");
    w.detail = j.value("detail", "");
    w.reason = j.value("reason", "");
    w.fatal = j.value("fatal", "");
    return w;
}

// Starts the file in a worker after its begin record; false when the run must stop.
bool startFile(Run& run, WorkerPool& pool, std::size_t index, std::uint64_t estimate) {
    const InputFile& f = run.files[index];
    Running r{index, estimate, Clock::now(), derivedNames(f.path)};
    std::string error;
    if (run.journal && !run.journal->begin(f.path, stampOf(f.path), r.namesBefore, &error)) {
        run.fatal = error;
        return false;
    }
    const BatchJob& job = run.job;
    const std::string shown = f.shown;
    if (!pool.start(
            index, [&job, shown] { return encodeOutcome(job.work(shown)); }, &error)) {
        run.fatal = error;
        return false;
    }
    run.memoryInUse += estimate;
    run.running.emplace(index, std::move(r));
    return true;
}

// Takes a worker's end: the file's record, its journal end, its line.
void endFile(Run& run, const WorkerEnd& end) {
    const auto it = run.running.find(end.task);
    if (it == run.running.end()) return;
    const Running r = std::move(it->second);
    run.running.erase(it);
    run.memoryInUse -= r.estimate;
    const InputFile& f = run.files[r.index];
    WorkOutcome w = decodeOutcome(end);
    if (!w.fatal.empty()) {
        if (run.fatal.empty()) run.fatal = w.fatal;
        w.result = "failed";
        w.reason = w.fatal;
    }
    Made made = madeBetween(r.namesBefore, derivedNames(f.path));
    std::string error;
    if (run.journal && !run.journal->end(f.path, w.result, stampOf(f.path), made, w.reason, &error) &&
        run.fatal.empty())
        run.fatal = error;
    noteOutcome(run, r.index, w, std::chrono::duration<double>(Clock::now() - r.started).count(), std::move(made));
}

// Runs the files that are to be worked on, in order, until all are done or the run is stopped.
void runFiles(Run& run, const std::vector<std::size_t>& queue) {
    WorkerPool pool;
    std::size_t next = 0;
    for (;;) {
        const bool stopping = stopSignal() != 0 || !run.fatal.empty();
        while (!stopping && next < queue.size() && pool.running() < run.jobs) {
            const std::size_t index = queue[next];
            const std::uint64_t estimate = estimateMemory(run, run.files[index].path);
            if (estimate > run.memoryLimit) {
                WorkOutcome w{
                    "failed", "", "",
                    "needs about " + mib(estimate) + " MiB, more than --max-memory " + mib(run.memoryLimit) + " MiB",
                    ""};
                noteOutcome(run, index, w, 0, {});
                ++next;
                continue;
            }
            if (pool.running() > 0 && run.memoryInUse + estimate > run.memoryLimit) break;
            if (!startFile(run, pool, index, estimate)) break;
            ++next;
        }
        drawProgress(run);
        if (pool.running() == 0) break;
        for (const WorkerEnd& end : pool.wait(run.progress ? 500 : 5000)) endFile(run, end);
    }
    for (std::size_t i = next; i < queue.size(); ++i)
        if (run.records[queue[i]].result.empty()) {
            run.records[queue[i]].result = "skipped";
            run.records[queue[i]].reason = kNotStarted;
        }
    clearProgress(run);
}

// Writes text to path through a temporary beside it renamed over it; false with *error.
bool writeThroughTemporary(const std::string& path, const std::string& text, std::string* error) {
    const fs::path target(path);
    const fs::path temp =
        target.parent_path() / ("." + target.filename().string() + ".pxmtmp-" + std::to_string(::getpid()) + "-0");
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        ok = n > 0;
        done += ok ? std::size_t(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        *error = "cannot write the report " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
    }
    return ok;
}

// The report: every file and the summary.
nlohmann::json reportOf(const Run& run, const std::map<std::string, std::size_t>& counts, double seconds) {
    nlohmann::json files = nlohmann::json::array();
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        const FileRecord& r = run.records[i];
        files.push_back({{"path", run.files[i].shown},
                         {"result", r.result.empty() ? "skipped" : r.result},
                         {"reason", r.reason},
                         {"seconds", std::round(r.seconds * 1000) / 1000},
                         {"backup", r.made.backup},
                         {"output", r.made.output}});
    }
    nlohmann::json summary = {{"command", run.job.command}, {"files", run.files.size()}};
    for (const auto& [result, count] : counts) summary[result] = count;
    summary["seconds"] = std::round(seconds * 1000) / 1000;
    summary["jobs"] = run.jobs;
    summary["stopped"] = stopSignal() != 0;
    return {{"files", files}, {"summary", summary}};
}

// Prints the summary line and writes the report; gives the exit code.
int finish(Run& run) {
    // Files a stopped run did not start are counted apart from those skipped on purpose.
    std::map<std::string, std::size_t> counts = {
        {"done", 0}, {"unchanged", 0}, {"failed", 0}, {"skipped", 0}, {"notStarted", 0}};
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        const FileRecord& r = run.records[i];
        ++counts[r.reason == kNotStarted ? "notStarted" : r.result.empty() ? "skipped" : r.result];
        if (r.result == "failed") failed.push_back(run.files[i].shown);
    }
    const std::size_t notStarted = counts["notStarted"];
    const std::size_t taken = run.files.size() - counts["skipped"];
    std::string line =
        run.job.command + ": " + std::to_string(counts["done"]) + " of " + std::to_string(taken) + " file(s) changed";
    if (counts["unchanged"]) line += ", " + std::to_string(counts["unchanged"]) + " unchanged";
    if (counts["skipped"]) line += ", " + std::to_string(counts["skipped"]) + " skipped";
    if (!failed.empty()) {
        line += "; failed:";
        for (const std::string& f : failed) line += " " + f;
    }
    if (stopSignal()) line += "; stopped, " + std::to_string(notStarted) + " file(s) not started";
    printLine(run, line);
    const double seconds = std::chrono::duration<double>(Clock::now() - run.started).count();
    std::string error;
    if (!run.options.report.empty() &&
        !writeThroughTemporary(run.options.report, reportOf(run, counts, seconds).dump(2) + "\n", &error)) {
        std::cerr << "pixelmend: " << run.job.command << ": " << error << "\n";
        if (run.fatal.empty()) run.fatal = error;
    }
    if (!run.fatal.empty()) {
        std::cerr << "pixelmend: " << run.job.command << ": " << run.fatal << "\n";
        return 2;
    }
    if (stopSignal()) return 128 + stopSignal();
    return failed.empty() ? 0 : 1;
}

// Where the journal goes: --journal, or .pixelmend-journal inside the first folder, beside the
// first file, or in the current folder; ".K-of-N" added for a shard.
std::string journalPath(const RunnerOptions& o, const std::string& first) {
    if (!o.journal.empty()) return fs::absolute(o.journal).lexically_normal().string();
    std::error_code ec;
    fs::path folder = ".";
    if (!first.empty() && first != "-")
        folder = fs::is_directory(first, ec) ? fs::path(first) : fs::path(first).parent_path();
    if (folder.empty() || !fs::is_directory(folder, ec)) folder = ".";  // a missing file's folder: here
    std::string name = ".pixelmend-journal";
    if (o.shard) name += "." + std::to_string(o.shard->first) + "-of-" + std::to_string(o.shard->second);
    return fs::absolute(folder / name).lexically_normal().string();
}

// Lists what the run would do, writing nothing but the report when one is asked for.
int dryRun(Run& run) {
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        const InputFile& f = run.files[i];
        if (!run.records[i].result.empty()) continue;  // skipped, said already
        printLine(run, run.job.command + " " + f.shown + ": would run " + run.job.plan);
        run.records[i].result = "skipped";
        run.records[i].reason = "dry run";
    }
    std::string error;
    if (!run.options.report.empty()) {
        std::map<std::string, std::size_t> counts = {{"skipped", run.files.size()}};
        if (!writeThroughTemporary(run.options.report, reportOf(run, counts, 0).dump(2) + "\n", &error)) {
            std::cerr << "pixelmend: " << run.job.command << ": " << error << "\n";
            return 2;
        }
    }
    return 0;
}

}  // namespace

bool takeRunnerOption(Args args, std::size_t& i, RunnerOptions& o, std::string* problem) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
        if (i + 1 >= args.size()) return std::nullopt;
        return args[++i];
    };
    if (a == "--jobs") {
        const auto v = value();
        const auto n = v ? wholeNumber(*v, 1, 256) : std::nullopt;
        if (!n) *problem = "--jobs takes N: a whole number from 1 to 256";
        o.jobs = n ? unsigned(*n) : 0;
    } else if (a == "--journal" || a == "--files-from" || a == "--report") {
        const auto v = value();
        if (!v || v->empty())
            *problem = a + (a == "--files-from" ? " takes a LIST (- for standard input)" : " takes a FILE");
        (a == "--journal" ? o.journal : a == "--files-from" ? o.filesFrom : o.report) = v.value_or("");
    } else if (a == "--shard") {
        const auto v = value();
        const std::size_t slash = v ? v->find('/') : std::string::npos;
        const auto n = slash != std::string::npos ? wholeNumber(v->substr(slash + 1), 1, 1'000'000) : std::nullopt;
        const auto k = n ? wholeNumber(v->substr(0, slash), 1, *n) : std::nullopt;
        if (!k) *problem = "--shard takes K/N: whole numbers, 1 <= K <= N";
        if (k) o.shard = std::pair(int(*k), int(*n));
    } else if (a == "--max-memory") {
        const auto v = value();
        o.maxMemory = v ? sizeValue(*v) : std::nullopt;
        if (!o.maxMemory) *problem = "--max-memory takes SIZE: a number of bytes, or with K, M or G (e.g. 2G, 600M)";
    } else if (a == "--recursive") {
        o.recursive = true;
    } else if (a == "--dry-run") {
        o.dryRun = true;
    } else if (a == "--quiet") {
        o.quiet = true;
    } else {
        return false;
    }
    return true;
}

int runJob(const BatchJob& job, const RunnerOptions& o) {
    std::string error;
    const auto gathered = gatherInputs(InputRequest{job.inputs, o.filesFrom, o.recursive, {}}, &error);
    if (!gathered) {
        std::cerr << "pixelmend: " << job.command << ": " << error << "\n";
        return 2;
    }
    Run run(job, o);
    run.memoryLimit = o.maxMemory.value_or(defaultMemoryLimit());
    run.jobs = o.jobs ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
    run.progress = !o.dryRun && !o.quiet && ::isatty(1);
    const std::string journal = journalPath(o, gathered->first);
    for (const InputFile& f : gathered->files)
        if (!o.shard || shardOf(f.shown, o.shard->second) == o.shard->first)
            if (f.path != journal && (o.report.empty() || f.path != fs::absolute(o.report).lexically_normal()))
                run.files.push_back(f);
    run.records.resize(run.files.size());
    if (o.dryRun) {
        run.journal.emplace(Journal::readOnly(journal, job.identity));
    } else {
        auto opened = Journal::open(journal, job.identity, &error);
        if (!opened) {
            std::cerr << "pixelmend: " << job.command << ": " << error << "\n";
            return 2;
        }
        run.journal.emplace(std::move(*opened));
        catchStopSignals();
    }
    std::vector<std::size_t> queue;
    for (std::size_t i = 0; i < run.files.size(); ++i) {
        const InputFile& f = run.files[i];
        std::string skip = f.skip;
        if (skip.empty() && f.fromFolder && run.journal->made().count(f.path)) skip = "made by an earlier run";
        if (skip.empty()) skip = resumeVerdict(run, f);
        if (!skip.empty())
            noteSkipped(run, i, skip);
        else
            queue.push_back(i);
    }
    if (o.dryRun) return dryRun(run);
    run.toRun = queue.size();
    if (run.fatal.empty()) runFiles(run, queue);
    return finish(run);
}

}  // namespace pixelmend
