// What every fuzz target shares: the time zone the program runs in and a check that stops the
// run at once when an invariant breaks (the fuzzer keeps the input).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace ys::fuzz {

inline void UseProgramTimeZone() {
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::tzset();
}

inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace ys::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
