// Programs started side by side, timed to their exits (a pidfd per program, so that the end of one is
// seen at once while another still runs) and their process trees' memory sampled from /proc.
#include "process_runs.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace pxbench {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A whole number made only of digits (a process folder of /proc); -1 for anything else.
pid_t processNumber(const char* name) {
    if (*name == 0) return -1;
    long value = 0;
    for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9' || value > 1'000'000'000) return -1;
        value = value * 10 + (*c - '0');
    }
    return pid_t(value);
}

// The parent and process group of a process from /proc/PID/stat; false when it is gone.
bool parentAndGroup(pid_t pid, pid_t* parent, pid_t* group) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    std::ifstream in(path);
    std::string text;
    if (!std::getline(in, text)) return false;
    // The command name in parentheses may hold spaces and parentheses: the fields follow the last ')'.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    int p = 0, g = 0;
    if (std::sscanf(text.c_str() + close + 1, " %*c %d %d", &p, &g) != 2) return false;
    *parent = p;
    *group = g;
    return true;
}

// The resident size of a process in bytes from /proc/PID/statm; -1 when it is gone.
long long residentBytes(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", int(pid));
    std::ifstream in(path);
    long long size = 0, resident = 0;
    if (!(in >> size >> resident)) return -1;
    return resident * sysconf(_SC_PAGESIZE);
}

// The two ends of a pipe that closes itself when the child's exec succeeds.
struct ExecReport {
    int fds[2] = {-1, -1};
    ~ExecReport() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
};

// One started program: its process, the descriptor that becomes readable when it ends, its result.
struct Running {
    pid_t pid = -1;
    int pidfd = -1;
    bool done = false;
    LaunchResult result;
};

// Takes a launch, starts it in a process group of its own with its output in its log; gives the
// process id, or -1 with the reason in *error.
pid_t startProgram(const Launch& launch, std::string* error) {
    if (launch.argv.empty()) {
        *error = "a program without arguments";
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* logPath = launch.logPath.empty() ? "/dev/null" : launch.logPath.c_str();
    const int out = open(logPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        *error = std::string("cannot open ") + logPath + ": " + std::strerror(errno);
        return -1;
    }
    ExecReport report;
    if (pipe2(report.fds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        close(out);
        return -1;
    }
    // fork, not posix_spawn: a forked child's peak memory (wait4's ru_maxrss) starts from this small
    // process's present size, a vfork'd one's from this process's peak.
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a killed benchmark leaves no program running
        dup2(out, 1);
        dup2(out, 2);
        execv(argv[0], argv.data());
        const int why = errno;
        (void)!write(report.fds[1], &why, sizeof why);
        _exit(127);
    }
    close(out);
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    setpgid(pid, pid);  // also here, so that the group exists before a kill at the time limit
    close(report.fds[1]);
    report.fds[1] = -1;
    int why = 0;
    if (read(report.fds[0], &why, sizeof why) == sizeof why) {
        *error = "cannot run " + launch.argv[0] + ": " + std::strerror(why);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

// A descriptor that becomes readable when the process ends; -1 when the kernel has none (through the
// system call: this C library's header declares pidfd_open without C linkage for C++).
int openPidfd(pid_t pid) { return int(syscall(SYS_pidfd_open, pid, 0)); }

// Takes a finished program's wait status and usage, fills its result.
void noteEnd(Running& run, int status, const rusage& usage, double seconds) {
    run.done = true;
    run.result.seconds = seconds;
    run.result.maxrssMiB = double(usage.ru_maxrss) / 1024.0;
    if (WIFEXITED(status)) run.result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.result.signal = WTERMSIG(status);
}

// Reaps the program if it has ended; true when it has.
bool reapIfEnded(Running& run, Clock::time_point start, bool block) {
    int status = 0;
    rusage usage{};
    const pid_t got = wait4(run.pid, &status, block ? 0 : WNOHANG, &usage);
    if (got != run.pid) return false;
    noteEnd(run, status, usage, secondsSince(start));
    if (run.pidfd >= 0) close(run.pidfd);
    run.pidfd = -1;
    return true;
}

// Kills every program's whole process group (also what a finished one left running) and reaps the programs.
void killAll(std::vector<Running>& running, Clock::time_point start) {
    for (Running& run : running)
        if (run.pid > 0) kill(-run.pid, SIGKILL);
    for (Running& run : running)
        if (!run.done) reapIfEnded(run, start, true);
}

// Waits for the programs, sampling the trees' memory every sampleMs; false when the limit struck.
bool waitSampling(std::vector<Running>& running, TreeMemory& tree, SideBySide& out, Clock::time_point start,
                  double limit, int sampleMs) {
    auto lastSample = Clock::now();
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Running*> owners;
        for (Running& run : running)
            if (!run.done) {
                fds.push_back(pollfd{run.pidfd, POLLIN, 0});
                owners.push_back(&run);
            }
        if (fds.empty()) return true;
        const double left = limit - secondsSince(start);
        if (left <= 0) return false;
        const double untilSample = sampleMs * 1e-3 - secondsSince(lastSample);
        const int wait = int(std::max(0.0, std::min(left, untilSample)) * 1000.0) + 1;
        if (poll(fds.data(), fds.size(), wait) > 0)
            for (std::size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents) reapIfEnded(*owners[i], start, false);
        if (secondsSince(lastSample) * 1000.0 >= sampleMs) {
            lastSample = Clock::now();
            out.peakMiB = std::max(out.peakMiB, double(tree.sample()) / (1024.0 * 1024.0));
            ++out.samples;
        }
    }
}

}  // namespace

bool SideBySide::allSucceeded() const {
    if (!error.empty() || timedOut) return false;
    return std::all_of(runs.begin(), runs.end(), [](const LaunchResult& r) { return r.exitCode == 0; });
}

std::uint64_t TreeMemory::sample() {
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    members.insert(roots.begin(), roots.end());
    std::uint64_t total = 0;
    // /proc lists processes in increasing number, so a parent is usually met before its children.
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = processNumber(entry->d_name);
        if (pid <= 0 || strangers.count(pid)) continue;
        if (!members.count(pid)) {
            pid_t parent = 0, group = 0;
            if (!parentAndGroup(pid, &parent, &group)) continue;
            if (!members.count(parent) && !roots.count(group)) {
                strangers.insert(pid);
                continue;
            }
            members.insert(pid);
        }
        const long long bytes = residentBytes(pid);
        if (bytes < 0)
            members.erase(pid);  // gone; its number may come back as someone else's
        else
            total += std::uint64_t(bytes);
    }
    closedir(proc);
    return total;
}

SideBySide runSideBySide(const std::vector<Launch>& launches, double timeLimitSeconds, int sampleMs) {
    SideBySide out;
    std::vector<Running> running(launches.size());
    TreeMemory tree;
    const auto start = Clock::now();
    for (std::size_t i = 0; i < launches.size(); ++i) {
        std::string error;
        running[i].pid = startProgram(launches[i], &error);
        if (running[i].pid < 0) {
            running[i].done = true;
            if (out.error.empty()) out.error = error;
            continue;
        }
        running[i].pidfd = openPidfd(running[i].pid);
        tree.roots.insert(running[i].pid);
    }
    // Without a pidfd (an old kernel) a program is waited for at once, unsampled.
    for (Running& run : running)
        if (!run.done && run.pidfd < 0 && !reapIfEnded(run, start, true)) run.done = true;
    if (!waitSampling(running, tree, out, start, timeLimitSeconds, sampleMs)) {
        out.timedOut = true;
        killAll(running, start);
    }
    for (const Running& run : running) {
        out.runs.push_back(run.result);
        out.wallSeconds = std::max(out.wallSeconds, run.result.seconds);
    }
    return out;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(in >> one >> five >> fifteen)) return "?";
    return one + " " + five + " " + fifteen;
}

}  // namespace pxbench
