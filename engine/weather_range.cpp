#include "engine/weather_range.h"

#include <algorithm>
#include <cmath>

#include "engine/generation.h"
#include "engine/solar_model.h"

namespace ys::gencalc {
namespace {

// The correlation's two branches meet at a sunset hour angle of 81.4°.
constexpr double kSunsetBranchDeg = 81.4;
constexpr double kMinClearness = 0.3;
constexpr double kMaxClearness = 0.8;

}  // namespace

GenerationTotals Simulate(const SimulationContext& prepared) {
    const GenerationResult result = Calculate(prepared);
    return GenerationTotals{result.totalMonthly, result.totalHourly};
}

double ExtraterrestrialDaily(const SimulationContext& prepared, int month) {
    const PreparedMonth pm = PrepareMonth(prepared, month, Surface{});
    double sum = 0;
    for (int h = 0; h < kHours; ++h) sum += pm.extraterrestrial * CosZenith(pm, h);
    return sum * prepared.globalDivisor;
}

double SunsetHourAngle(const SimulationContext& prepared, int month) {
    return PrepareMonth(prepared, month, Surface{}).sunsetHourAngle;
}

double MonthlyDiffuseFraction(double clearness, double sunsetHourAngleDeg) {
    const double k = std::clamp(clearness, kMinClearness, kMaxClearness);
    if (sunsetHourAngleDeg <= kSunsetBranchDeg) {
        return 1.391 - 3.560 * k + 4.189 * k * k - 2.137 * k * k * k;
    }
    return 1.311 - 3.022 * k + 3.427 * k * k - 1.821 * k * k * k;
}

double ReplacedDiffuse(double global, MonthInsolation siteMean, double extraterrestrial,
                       double sunsetHourAngleDeg) {
    if (!(global > 0) || !(extraterrestrial > 0)) return 0;
    const double fraction = MonthlyDiffuseFraction(global / extraterrestrial, sunsetHourAngleDeg);
    // Scaled so that the site's mean year keeps the site's own diffuse part.
    double scale = 1;
    if (siteMean.global > 0) {
        const double meanFraction =
            MonthlyDiffuseFraction(siteMean.global / extraterrestrial, sunsetHourAngleDeg);
        scale = (siteMean.diffuse / siteMean.global) / meanFraction;
    }
    return std::min(global * fraction * scale, global);
}

SimulationContext WithMonthlyGlobal(const SimulationContext& prepared,
                                    const MonthTable& globalKwh) {
    SimulationContext out = prepared;
    for (int m = 0; m < kMonths; ++m) {
        const auto i = static_cast<std::size_t>(m);
        const MonthInsolation mean{prepared.globalDaily[i] * prepared.globalDivisor,
                                   prepared.diffuseDaily[i] * prepared.diffuseDivisor};
        const double diffuse = ReplacedDiffuse(
            globalKwh[i], mean, ExtraterrestrialDaily(prepared, m), SunsetHourAngle(prepared, m));
        out.globalDaily[i] = globalKwh[i] / prepared.globalDivisor;
        out.diffuseDaily[i] = diffuse / prepared.diffuseDivisor;
    }
    return out;
}

std::int32_t TruncatedKwh(double kwh) {
    constexpr double kLimit = 2147483647.0;
    if (!std::isfinite(kwh)) return 0;
    return static_cast<std::int32_t>(std::clamp(std::trunc(kwh), -kLimit, kLimit));
}

WeatherRange ComputeWeatherRange(const SimulationContext& prepared, const MonthTable& dullestKwh,
                                 const MonthTable& sunniestKwh) {
    const GenerationTotals mean = Simulate(prepared);
    const GenerationTotals dull = Simulate(WithMonthlyGlobal(prepared, dullestKwh));
    const GenerationTotals sunny = Simulate(WithMonthlyGlobal(prepared, sunniestKwh));
    WeatherRange out;
    for (std::size_t m = 0; m < kMonths; ++m) {
        out.expected[m] = TruncatedKwh(mean.monthly[m]);
        out.low[m] = TruncatedKwh(dull.monthly[m]);
        out.high[m] = TruncatedKwh(sunny.monthly[m]);
    }
    return out;
}

}  // namespace ys::gencalc
