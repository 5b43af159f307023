// Reading the user data file that the diagnosis commands work on.
#pragma once

#include <string>

#include "app/app_data.h"
#include "platform/result.h"

namespace ys::cli {

// The whole file, or a one-line error naming it.
Result<UserData> ReadUserDataFile(const std::string& path);

}  // namespace ys::cli
