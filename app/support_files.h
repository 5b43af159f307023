// The support files that must sit in the program folder, tested in a fixed order at start-up.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ys {

inline constexpr std::array<std::string_view, 5> kSupportFiles = {
    "admin.ini", "insolation.csv", "KEN_ALL.CSV", "gencalc", "gencalc.ini"};

struct MissingSupportFile {
    std::string file;
    std::string message;  // "ファイルが見つかりません。(file)", UTF-8
};

// The first support file missing from `programDir`, in the order above; nullopt when all exist.
// Only existence is tested: an empty file passes.
std::optional<MissingSupportFile> FindMissingSupportFile(const std::string& programDir);

}  // namespace ys
