// Start-up: the two folders and the support-file test that comes before the main window.
#pragma once

#include <string>

namespace ys {
class CYieldscopeApp;
}

namespace ys::gui {

// Fixes programDir and dataDir (creating the data folder; a failure is not reported), then tests
// the support files in order. False, after the message for the first missing file, when the
// program must end without a window.
// Registers the pictures and icons compiled into the program.
void InitResources();

bool PrepareStartup(CYieldscopeApp& app, const std::string& programDir, const std::string& dataDir);

}  // namespace ys::gui
