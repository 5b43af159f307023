// The names of the power conditioner's error events and the lines of the error list.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_data.h"

namespace ys {

struct ErrorName {
    int code;
    std::string_view name;  // UTF-8
};

// E errors (mostly grid conditions) and F errors (mostly DC-side and device faults), in table
// order; a lookup takes the first pair with the code.
extern const std::span<const ErrorName> errorNamesE;
extern const std::span<const ErrorName> errorNamesF;

// "Ｅエラー（name）", "Ｆエラー（name）", "異常", "重故障" by kind; empty for an unknown kind or a
// code that is not in its table.
std::string ErrorEventName(int kind, int code);

// "YYYY/MM/DD hh:mm : KKh CC : name" in local time.
std::string FormatErrorLine(const CErrorData& e);

// The lines of the first `errorCount` events, sorted as the list shows them (ascending text,
// which is chronological since every line starts with the date and time).
std::vector<std::string> ErrorLines(const UserData& data);

}  // namespace ys
