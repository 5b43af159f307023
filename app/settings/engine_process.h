// Starting the simulation engine as a child process and waiting for it: the program is started
// directly from the program folder (no shell, no search path), with its arguments kept apart,
// and what it writes on stderr is collected for the user.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ys {

struct EngineCommand {
    std::string program;            // full path of the executable
    std::vector<std::string> args;  // without the program name
};

struct EngineRun {
    bool started = false;
    int exitCode = -1;       // -1 when not started; 128 + n when ended by signal n
    std::string stderrText;  // what the engine wrote on stderr (at most 64 KiB)
    std::string startError;  // why it could not be started
};

inline constexpr int kEnginePollMs = 50;

// Starts the command with stdin and stdout on /dev/null and stderr collected, then waits for it,
// calling `whileWaiting` about every 50 ms until it has ended.
EngineRun RunEngineAndWait(const EngineCommand& command,
                           const std::function<void()>& whileWaiting = {});

}  // namespace ys
