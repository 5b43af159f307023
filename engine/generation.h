// Expected generation: the daily insolation on each roof surface times capacity, days and the
// loss chain, split over the hours of the day and summed over all lines.
#pragma once

#include "engine/simulation_context.h"

namespace ys::gencalc {

using PowerConditionerFlags = std::array<bool, kMaxPowerConditioners>;

// Per power conditioner: whether its lines face different directions.
PowerConditionerFlags MixedOrientation(const SimulationContext& inputs);

// One line's generation per month and per clock hour (kWh over the month's days).
struct LineGeneration {
    MonthTable monthly{};
    HourTable hourly{};
};
// Line `lineIndex` of the request; `mixed` selects its loss factor.
LineGeneration CalculateLine(const SimulationContext& inputs, int lineIndex,
                             const PowerConditionerFlags& mixed);

// The whole installation: the mixed-orientation flags and the totals over all lines.
struct GenerationResult {
    PowerConditionerFlags mixedOrientation{};
    MonthTable totalMonthly{};
    HourTable totalHourly{};
};
GenerationResult Calculate(const SimulationContext& inputs);

// Calculate, its result stored in the context for the result file. Returns 0.
int RunCalculation(SimulationContext& ctx);

// True when every total is a finite number and each monthly total fits a 32-bit integer, so the
// results can be written as they are.
bool ResultsAreValid(const SimulationContext& ctx);

}  // namespace ys::gencalc
