// Runs a shell command line and collects its exit code and standard output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct CommandOutput {
    int code = -1;    // exit code; -1 when the command could not run or was killed
    std::string out;  // what it wrote on stdout
};

// Takes a /bin/sh command line, gives its exit code and output; code -1 when it cannot be started.
inline CommandOutput runCommandLine(const std::string& line) {
    CommandOutput r;
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
