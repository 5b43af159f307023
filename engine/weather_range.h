// The engine run as a value, and the expected generation of an installation in a year other than
// the mean one: a month's global horizontal insolation replaced, its diffuse part following the
// monthly-average correlation of Erbs, Klein and Duffie (1982), scaled to the site's own mean.
#pragma once

#include <array>
#include <cstdint>

#include "engine/simulation_context.h"

namespace ys::gencalc {

// The installation's expected generation from a context that holds the constants and a request.
// The context is only read: runs cannot leak into each other.
struct GenerationTotals {
    MonthTable monthly{};  // kWh
    HourTable hourly{};    // kWh per clock hour, summed over the month's days
};
GenerationTotals Simulate(const SimulationContext& prepared);

// The month's mean daily extraterrestrial insolation on the horizontal at the request's
// latitude, in the unit of the request's global values (kWh/m2/day), from the engine's constants
// and hours.
double ExtraterrestrialDaily(const SimulationContext& prepared, int month);

// The sunset hour angle (degrees) of the month's representative day at the request's latitude.
double SunsetHourAngle(const SimulationContext& prepared, int month);

// Erbs, Klein and Duffie's monthly-average diffuse fraction Hd/H for the clearness index
// KT = H/H0; the clearness index is held to the correlation's range 0.3 … 0.8.
double MonthlyDiffuseFraction(double clearness, double sunsetHourAngleDeg);

// The diffuse part of a month whose global insolation is `global`, scaled so that the site's
// mean global gives the site's mean diffuse; never more than `global`.
struct MonthInsolation {
    double global = 0;   // kWh/m2/day
    double diffuse = 0;  // kWh/m2/day
};
double ReplacedDiffuse(double global, MonthInsolation siteMean, double extraterrestrial,
                       double sunsetHourAngleDeg);

// The context with every month's global insolation replaced by `globalKwh` (kWh/m2/day, January
// first) and its diffuse part as ReplacedDiffuse gives it; all else as it was.
SimulationContext WithMonthlyGlobal(const SimulationContext& prepared, const MonthTable& globalKwh);

// Expected monthly generation (kWh, truncated like the result file) of the mean year, the dullest
// and the sunniest year.
struct WeatherRange {
    std::array<std::int32_t, kMonths> expected{};
    std::array<std::int32_t, kMonths> low{};
    std::array<std::int32_t, kMonths> high{};
};
WeatherRange ComputeWeatherRange(const SimulationContext& prepared, const MonthTable& dullestKwh,
                                 const MonthTable& sunniestKwh);

// A monthly total as the result file writes it: truncated toward zero, 0 when not a number.
std::int32_t TruncatedKwh(double kwh);

}  // namespace ys::gencalc
