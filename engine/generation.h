// Expected generation: the daily insolation on each roof surface times capacity, days and the
// loss chain, split over the hours of the day and summed over all lines.
#pragma once

#include "engine/simulation_context.h"

namespace ys::gencalc {

// Sets the mixed-orientation flag of each power conditioner, then fills totalMonthly and
// totalHourly from every line. Returns 0.
int RunCalculation(SimulationContext& ctx);

// Fills lineMonthly and lineHourly for line `lineIndex`; uses the mixed-orientation flags.
void CalculateLine(SimulationContext& ctx, int lineIndex);

// True when every total is a finite number and each monthly total fits a 32-bit integer, so the
// results can be written as they are.
bool ResultsAreValid(const SimulationContext& ctx);

}  // namespace ys::gencalc
