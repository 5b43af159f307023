// Programs of the program folder run as child processes, for tests and benchmarks of the
// command-line tools: output collected, readiness read from the child's first line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ys::test {

struct RunResult {
    int exitCode = -1;  // -1: killed by a signal
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] a path) to its end with the current environment.
RunResult RunProgram(const std::vector<std::string>& argv);

// A running child whose standard output and error are pipes.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();  // ends the child (SIGTERM) if still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output, without its newline; empty when the child ended first
    // or nothing came within `limitMs` (which only bounds a broken test).
    std::string ReadLine(int limitMs = 10'000);
    void Signal(int sig);
    // Waits for the end; returns the exit code (-1 after a signal) and collects the output.
    int Wait();
    const std::string& err() const { return err_; }
    const std::string& out() const { return out_; }

private:
    bool Drain(int limitMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
    std::size_t lineStart_ = 0;
    int status_ = -1;
};

}  // namespace ys::test
