// The user data file as JSON (UTF-8) for the command-line tool: every field, every table slot,
// so that a dump turned back into a file gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/app_data.h"
#include "platform/result.h"

namespace ys::cli {

// `marker` is the file's first int32 (the loader ignores it; it is kept for the round trip).
std::string UserDataToJson(const UserData& data, std::int32_t marker);

struct ParsedUserData {
    UserData data;
    std::int32_t marker = 1;
};

// Fails with a message naming the offending key or value. Keys that are left out take the
// defaults of a new record; unknown keys are refused, since they are most likely typing errors.
Result<ParsedUserData> UserDataFromJson(std::string_view json);

}  // namespace ys::cli
