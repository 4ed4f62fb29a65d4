// Worker processes of a batch run. The parent never loads the add-on, so a fork gives each
// worker a clean process in which the add-on's process-wide state is its own.
#include "cli/batch_workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

namespace pixelmend {
namespace {

// Module state: the signal noted by the handler and the pipe that wakes the waiting parent.
struct StopState {
    volatile std::sig_atomic_t signal = 0;
    int wakeRead = -1;
    int wakeWrite = -1;
};
StopState g_stop;

extern "C" void noteStop(int sig) {
    if (g_stop.signal == 0) g_stop.signal = sig;
    const int saved = errno;
    if (g_stop.wakeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_stop.wakeWrite, &byte, 1);
    }
    errno = saved;
}

// Writes all of text to fd (retrying short writes and interruptions).
void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

// What a worker's wait status says when it is not a plain exit with code 0.
std::string troubleOf(int status) {
    if (WIFSIGNALED(status)) return "the worker process ended by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "the worker process ended with code " + std::to_string(WEXITSTATUS(status));
    return {};
}

}  // namespace

WorkerPool::~WorkerPool() {
    // Only reached with workers running when the parent gives up early: they are ended and reaped.
    for (Worker& w : workers_) {
        ::kill(w.pid, SIGKILL);
        ::waitpid(w.pid, nullptr, 0);
        ::close(w.fd);
    }
}

bool WorkerPool::start(std::size_t task, const std::function<std::string()>& work, std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe for a worker: ") + std::strerror(errno);
        return false;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("cannot start a worker process: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        // Ctrl-C at the terminal reaches the whole process group: the worker finishes its file.
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGINT);
        sigaddset(&blocked, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(3);  // the parent died before the line above took effect
        ::close(fds[0]);
        for (const Worker& w : workers_) ::close(w.fd);
        if (g_stop.wakeRead >= 0) ::close(g_stop.wakeRead);
        std::string message;
        try {
            message = work();
        } catch (const std::exception& e) {
            message = std::string("{\"crash\":\"") + e.what() + "\"}";
        }
        writeAll(fds[1], message);
        std::cout.flush();
        std::cerr.flush();
        ::_exit(0);
    }
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    workers_.push_back(Worker{pid, fds[0], task, {}});
    return true;
}

WorkerEnd WorkerPool::finish(Worker& w) {
    ::close(w.fd);
    int status = 0;
    while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {}
    return WorkerEnd{w.task, std::move(w.message), troubleOf(status)};
}

std::vector<WorkerEnd> WorkerPool::wait(int timeoutMs) {
    std::vector<pollfd> fds;
    for (const Worker& w : workers_) fds.push_back(pollfd{w.fd, POLLIN, 0});
    if (g_stop.wakeRead >= 0) fds.push_back(pollfd{g_stop.wakeRead, POLLIN, 0});
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    std::vector<WorkerEnd> ended;
    if (ready <= 0) return ended;
    if (g_stop.wakeRead >= 0 && fds.back().revents) {
        char drain[64];
        while (::read(g_stop.wakeRead, drain, sizeof drain) > 0) {}
    }
    std::vector<Worker> still;
    for (std::size_t i = 0; i < workers_.size(); ++i) {
        Worker& w = workers_[i];
        bool closed = false;
        if (fds[i].revents) {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(w.fd, buffer, sizeof buffer);
                if (n > 0) {
                    w.message.append(buffer, std::size_t(n));
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                closed = n == 0 || errno != EAGAIN;
                break;
            }
        }
        if (closed)
            ended.push_back(finish(w));
        else
            still.push_back(std::move(w));
    }
    workers_ = std::move(still);
    return ended;
}

void catchStopSignals() {
    int fds[2];
    if (g_stop.wakeRead < 0 && ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_stop.wakeRead = fds[0];
        g_stop.wakeWrite = fds[1];
    }
    struct sigaction action {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int stopSignal() { return g_stop.signal; }

}  // namespace pixelmend
