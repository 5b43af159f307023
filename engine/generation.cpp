#include "engine/generation.h"

#include <cmath>

#include "engine/solar_model.h"

namespace ys::gencalc {
namespace {

// Stands for "no line of this power conditioner seen yet".
constexpr double kNoPrevious = 1000;
// 1.0 on angles in radians, about 57°, not one degree: coarse, but which lines count as facing
// different directions (and so their loss factor) has always rested on it.
constexpr double kOrientationTolerance = 1.0;

bool HasMixedOrientation(const SimulationContext& ctx, int pc) {
    double previousAzimuth = kNoPrevious;
    double previousTilt = kNoPrevious;
    for (int j = 0; j < ctx.lineCount; ++j) {
        const LineRecord& line = ctx.lines[static_cast<std::size_t>(j)];
        if (line.pcIndex != pc) continue;
        const bool differs = std::fabs(line.azimuthRad - previousAzimuth) > kOrientationTolerance ||
                             std::fabs(line.tiltRad - previousTilt) > kOrientationTolerance;
        const bool hasPrevious = std::fabs(previousAzimuth - kNoPrevious) > kOrientationTolerance;
        if (differs && hasPrevious) return true;
        previousAzimuth = line.azimuthRad;
        previousTilt = line.tiltRad;
    }
    return false;
}

double MountingFactor(const SimulationContext& ctx) {
    switch (ctx.systemType) {
        case SystemType::kTallow:
            return ctx.roofMaterialFactor;
        case SystemType::kMeridianG:
            return ctx.flatRoofFactor;
        case SystemType::kKestrel:
        case SystemType::kMeridianR:
            break;
    }
    return ctx.pitchedRoofFactor;
}

}  // namespace

PowerConditionerFlags MixedOrientation(const SimulationContext& ctx) {
    PowerConditionerFlags out{};
    for (int k = 0; k < kMaxPowerConditioners; ++k) {
        out[static_cast<std::size_t>(k)] = k < ctx.pcCount && HasMixedOrientation(ctx, k);
    }
    return out;
}

GenerationResult Calculate(const SimulationContext& inputs) {
    GenerationResult out;
    out.mixedOrientation = MixedOrientation(inputs);
    for (int j = 0; j < inputs.lineCount; ++j) {
        const LineGeneration line = CalculateLine(inputs, j, out.mixedOrientation);
        for (std::size_t m = 0; m < kMonths; ++m) {
            out.totalMonthly[m] += line.monthly[m];
            for (std::size_t h = 0; h < kHours; ++h) out.totalHourly[m][h] += line.hourly[m][h];
        }
    }
    return out;
}

int RunCalculation(SimulationContext& ctx) {
    const GenerationResult result = Calculate(ctx);
    ctx.mixedOrientation = result.mixedOrientation;
    ctx.totalMonthly = result.totalMonthly;
    ctx.totalHourly = result.totalHourly;
    return 0;
}

LineGeneration CalculateLine(const SimulationContext& ctx, int lineIndex,
                             const PowerConditionerFlags& mixed) {
    const LineRecord line = ctx.lines[static_cast<std::size_t>(lineIndex)];
    const Surface surface{line.tiltRad, line.azimuthRad};

    // A line of a power conditioner that does not exist has no efficiency and generates nothing;
    // the request reader refuses such lines before they get here.
    const bool knownPc = line.pcIndex >= 0 && line.pcIndex < kMaxPowerConditioners;
    const auto pc = static_cast<std::size_t>(knownPc ? line.pcIndex : 0);
    const double capacity = line.lineKw;
    const double loss = line.hasBooster == 1   ? ctx.boosterLoss
                        : knownPc && mixed[pc] ? ctx.mixedOrientationLoss
                                               : ctx.noLossFactor;
    const double mounting = MountingFactor(ctx);
    const double efficiency = knownPc ? ctx.pcEfficiency[pc] : 0;

    LineGeneration out;
    for (int m = 0; m < kMonths; ++m) {
        const auto i = static_cast<std::size_t>(m);
        const PreparedMonth pm = PrepareMonth(ctx, m, surface);
        const SurfaceDay day = SumTiltedDaily(pm);
        const double s = day.tiltedDaily;
        out.monthly[i] = capacity * s * ctx.temperatureFactor[i] * ctx.wiringSoilingFactor *
                         ctx.shadowFactor[i] * mounting * loss * efficiency * ctx.daysInMonth[i];
        for (int h = 0; h < kHours; ++h) {
            // Without insolation the share of each hour is 0/0: the month has no generation.
            double v = 0;
            if (s != 0) {
                const SurfaceHour& hour = day.hours[static_cast<std::size_t>(h)];
                v = (hour.globalShare * pm.reflectedDaily + hour.diffuse + hour.beam) *
                    out.monthly[i] / s;
            }
            out.hourly[i][static_cast<std::size_t>(h)] = v < 0 ? 0 : v;
        }
    }
    return out;
}

bool ResultsAreValid(const SimulationContext& ctx) {
    constexpr double kIntLimit = 2147483648.0;  // 2^31
    for (std::size_t m = 0; m < kMonths; ++m) {
        const double monthly = ctx.totalMonthly[m];
        if (!std::isfinite(monthly) || monthly >= kIntLimit || monthly <= -kIntLimit - 1) {
            return false;
        }
        for (double hourly : ctx.totalHourly[m]) {
            if (!std::isfinite(hourly)) return false;
        }
    }
    return true;
}

}  // namespace ys::gencalc
