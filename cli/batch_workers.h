// Worker processes of a batch run: one forked child per file, its outcome one line on a pipe;
// and the stop signals (Ctrl-C, SIGTERM) the run's parent answers by finishing cleanly.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace pixelmend {

// A worker that has ended: its task, what it sent, and how it ended.
struct WorkerEnd {
    std::size_t task = 0;
    std::string message;  // everything the worker wrote on its pipe
    std::string trouble;  // how it ended when that was not an exit with code 0; empty otherwise
};

// The running workers of one batch run.
class WorkerPool {
public:
    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Takes a task number and the work, forks a worker that runs it with SIGINT and SIGTERM
    // blocked, sends its text and exits; the worker dies with the parent. False with *error
    // when no process or pipe can be made.
    bool start(std::size_t task, const std::function<std::string()>& work, std::string* error);
    // Waits up to timeoutMs for workers to end or a stop signal; gives the workers that ended.
    std::vector<WorkerEnd> wait(int timeoutMs);
    // The number of workers running.
    std::size_t running() const { return workers_.size(); }

private:
    struct Worker {
        pid_t pid = -1;
        int fd = -1;
        std::size_t task = 0;
        std::string message;
    };
    WorkerEnd finish(Worker& worker);
    std::vector<Worker> workers_;
};

// Installs the handlers that note SIGINT and SIGTERM (and wake WorkerPool::wait) instead of ending.
void catchStopSignals();
// The stop signal received (SIGINT or SIGTERM), or 0.
int stopSignal();

}  // namespace pixelmend
