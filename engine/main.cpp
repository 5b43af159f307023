// gencalc: computes the expected generation of one installation from a request file and writes
// the result file. Started by the GUI; messages go to standard error, one line each.
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/gencalc_run.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv, argv + argc);
    const auto outcome = ys::gencalc::RunGencalc(args, ys::paths::ProgramDir());
    for (const std::string& message : outcome.messages) {
        std::string line = message + "\n";
        // Nothing sensible is left to do when standard error is gone.
        [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
    }
    return outcome.exitCode;
}
