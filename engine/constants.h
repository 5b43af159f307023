// The engine's constants file "gencalc.ini": model coefficients, calendar tables and loss
// factors, read once per run before the request.
#pragma once

#include <string>
#include <string_view>

#include "engine/simulation_context.h"
#include "platform/profile.h"

namespace ys::gencalc {

inline constexpr std::string_view kConstantsFileName = "gencalc.ini";
inline constexpr std::string_view kConstantsSection = "発電電力量計算";

// Fills the constant fields of `ctx` and clears the tables that the request and the calculation
// fill. Returns 0, or -1 when the file, the section or a list key is missing, a list value does
// not fit the list buffer, or a divisor of the insolation values is 0.
int LoadConstants(SimulationContext& ctx, const ys::profile::Document& file);
int LoadConstants(SimulationContext& ctx, const std::string& path);

}  // namespace ys::gencalc
