// Helpers of the settings tests: CP932 text, small support files and stand-in engines.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "tests/support/temp_dir.h"

namespace ys::test {

// CP932 bytes of a UTF-8 literal.
inline std::string Sjis(std::string_view utf8) {
    auto r = codepage::Utf8ToCp932(utf8);
    return r ? *r : std::string("<not CP932>");
}

inline std::string Utf8(std::string_view cp932) {
    return codepage::Cp932ToUtf8Lossy(cp932);
}

// Writes an executable shell script.
inline std::string WriteScript(const TempDir& dir, std::string_view name, std::string_view body) {
    std::string path = dir.Write(name, "#!/bin/sh\n" + std::string(body));
    ::chmod(path.c_str(), 0755);
    return path;
}

// One region row: number, name, prefecture code and name, then the values 4-43 as given.
inline std::string RegionLine(std::string_view number, std::string_view name,
                              std::string_view prefCode, std::string_view prefName,
                              std::string_view rest = "35,41.1,139,45.6") {
    return std::string(number) + "," + Sjis(name) + "," + std::string(prefCode) + "," +
           Sjis(prefName) + "," + std::string(rest) + "\r\n";
}

// A full row of 44 fields whose monthly values say where they came from: global m is "g<m>",
// diffuse "d<m>", albedo "a<m>".
inline std::string FullRegionLine(std::string_view number, std::string_view name,
                                  std::string_view prefCode, std::string_view prefName) {
    std::string rest = "35,41.1,139,45.6";
    for (const char* series : {"g", "d", "a"}) {
        for (int m = 1; m <= 12; ++m) rest += "," + std::string(series) + std::to_string(m);
    }
    return RegionLine(number, name, prefCode, prefName, rest);
}

// A result file as the engine writes it, with these twelve monthly values.
inline std::string ResultFileText(const int (&months)[12]) {
    std::string s = "[MONTHLY_RESULT]\r\n";
    for (int m = 0; m < 12; ++m) {
        s += std::to_string(m + 1) + "M=" + std::to_string(months[m]) + "\r\n";
    }
    return s;
}

}  // namespace ys::test
