#include "tests/tools/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace ys::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    ::posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        Wait();
    }
    if (outFd_ >= 0) ::close(outFd_);
    if (errFd_ >= 0) ::close(errFd_);
}

// Reads what the pipes hold, waiting up to `limitMs` for something to arrive; false when nothing
// did. (poll() skips a pipe already closed, whose slot holds -1.)
bool ChildProcess::Drain(int limitMs) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (::poll(fds, 2, limitMs) <= 0) return false;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n > 0) (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(n));
        if (n == 0) {
            ::close(fds[i].fd);
            (i == 0 ? outFd_ : errFd_) = -1;
        }
    }
    return true;
}

std::string ChildProcess::ReadLine(int limitMs) {
    for (;;) {
        const std::size_t nl = out_.find('\n', lineStart_);
        if (nl != std::string::npos) {
            std::string line = out_.substr(lineStart_, nl - lineStart_);
            lineStart_ = nl + 1;
            return line;
        }
        if (outFd_ < 0 || !Drain(limitMs)) return {};
    }
}

void ChildProcess::Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

int ChildProcess::Wait() {
    while (outFd_ >= 0 || errFd_ >= 0) Drain(-1);
    if (pid_ > 0) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
    }
    return status_;
}

RunResult RunProgram(const std::vector<std::string>& argv) {
    ChildProcess child(argv);
    RunResult r;
    r.exitCode = child.Wait();
    r.out = child.out();
    r.err = child.err();
    return r;
}

}  // namespace ys::test
