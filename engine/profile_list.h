// Reading the engine's INI values: the comma-separated list reader and the number conversions
// that every key of the request and constants files goes through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/simulation_context.h"
#include "platform/profile.h"

namespace ys::gencalc {

// ReadProfileList results besides a field count.
inline constexpr int kListMissing = -1;  // key, section or file missing (or "NOT_FOUND")
inline constexpr int kListTooLong = -2;  // more than 16 fields, or a field or value too long

// Splits the value of `key` into ctx.listBuffer and returns the number of fields. Fields are not
// trimmed; an empty value gives one empty field. Slots past the count are left empty.
int ReadProfileList(std::string_view section, std::string_view key,
                    const ys::profile::Document& file, SimulationContext& ctx);

// A single value as the profile reader gives it (at most 1023 characters), or `def`.
std::string ReadProfileString(std::string_view section, std::string_view key, std::string_view def,
                              const ys::profile::Document& file);

// Leading blanks skipped, conversion stops at the first character that does not fit, no number
// gives 0. Locale-independent: a decimal point is always ".".
double ParseReal(std::string_view text);
// A list field's real: narrowed to single precision, as the list values always were.
double ParseListReal(std::string_view text);
// Integer part only ("3500.7" gives 3500); saturates at the 32-bit range.
std::int32_t ParseInteger(std::string_view text);

}  // namespace ys::gencalc
