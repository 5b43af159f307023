// The simulation request "pc_in.ini" that the GUI writes: system, power conditioners, roof
// surfaces, location, shade and the region's monthly insolation.
#pragma once

#include <string>

#include "engine/simulation_context.h"
#include "platform/profile.h"
#include "platform/result.h"

namespace ys::gencalc {

inline constexpr std::string_view kAccessToken = "4b1d07a9e25c";

// Fills the request fields of `ctx`; the constants must be loaded (the insolation divisors are
// applied here). Stops at the first failure and names it: a missing key or file, a power
// conditioner count other than 1 or 2, more than 16 lines, a line feeding a power conditioner
// that does not exist, or a list value that does not fit the list buffer.
Status ReadRequest(SimulationContext& ctx, const ys::profile::Document& file);

}  // namespace ys::gencalc
