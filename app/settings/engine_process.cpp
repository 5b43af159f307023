#include "app/settings/engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace ys {
namespace {

constexpr std::size_t kMaxStderr = 64 * 1024;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class SpawnActions {
public:
    SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&a_) == 0; }
    ~SpawnActions() {
        if (ok_) ::posix_spawn_file_actions_destroy(&a_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &a_; }

private:
    posix_spawn_file_actions_t a_{};
    bool ok_ = false;
};

// Reads what is there without blocking; false once the pipe is at its end.
bool Drain(int fd, std::string& out) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            const std::size_t room = kMaxStderr - std::min(kMaxStderr, out.size());
            out.append(buf, std::min(room, static_cast<std::size_t>(n)));
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace

EngineRun RunEngineAndWait(const EngineCommand& command,
                           const std::function<void()>& whileWaiting) {
    EngineRun run;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        run.startError = std::strerror(errno);
        return run;
    }
    Fd readEnd(pipeFds[0]);
    Fd writeEnd(pipeFds[1]);

    SpawnActions actions;
    if (!actions.ok() ||
        ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        ::posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), 2) != 0) {
        run.startError = "posix_spawn_file_actions";
        return run;
    }
    // The child gets a blocking stderr: only our read end is non-blocking.
    ::fcntl(writeEnd.get(), F_SETFL, ::fcntl(writeEnd.get(), F_GETFL) & ~O_NONBLOCK);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.program.c_str()));
    for (const std::string& a : command.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, command.program.c_str(), actions.get(), nullptr, argv.data(), environ);
    writeEnd.Close();
    if (rc != 0) {
        run.startError = std::strerror(rc);
        return run;
    }
    run.started = true;

    bool open = true;
    int status = 0;
    bool lost = false;  // the child's status could not be had
    for (;;) {
        pollfd p{readEnd.get(), POLLIN, 0};
        if (open) {
            if (::poll(&p, 1, kEnginePollMs) > 0) open = Drain(readEnd.get(), run.stderrText);
        } else {
            ::poll(nullptr, 0, kEnginePollMs);
        }
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno != EINTR) {
            lost = true;
            break;
        }
        if (whileWaiting) whileWaiting();
    }
    // What the engine wrote just before it ended.
    if (open) Drain(readEnd.get(), run.stderrText);

    if (lost) {
        run.exitCode = -1;
    } else if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.exitCode = 128 + WTERMSIG(status);
    }
    return run;
}

}  // namespace ys
