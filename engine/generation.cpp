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
        case kTallow:
            return ctx.roofMaterialFactor;
        case kMeridianG:
            return ctx.flatRoofFactor;
        default:
            return ctx.pitchedRoofFactor;
    }
}

// Nothing of the previous line or month may leak into this one.
void ClearMonthValues(SimulationContext& ctx) {
    ctx.currentTilt = ctx.currentAzimuth = 0;
    ctx.albedo = ctx.extraterrestrial = ctx.dayAngle = ctx.reflectedDaily = 0;
    ctx.equationOfTime = ctx.declination = ctx.sunsetHourAngle = 0;
    ctx.ratioA = ctx.ratioB = ctx.tiltedDaily = 0;
    ctx.diffuseRatioSum = ctx.globalRatioSum = 0;
    ctx.cosSunset = ctx.sunsetDenominator = 0;
    ctx.cosTilt = 1;
    ctx.zenith0 = ctx.zenith1 = 0;
    ctx.incidence0 = ctx.incidence1 = ctx.incidence2 = 0;
    ctx.hourCos = {};
    ctx.hourSin = {};
    ctx.surfaceHours = {};
}

}  // namespace

int RunCalculation(SimulationContext& ctx) {
    for (int k = 0; k < kMaxPowerConditioners; ++k) {
        ctx.mixedOrientation[static_cast<std::size_t>(k)] =
            k < ctx.pcCount && HasMixedOrientation(ctx, k);
    }
    ctx.totalMonthly = {};
    ctx.totalHourly = {};
    for (int j = 0; j < ctx.lineCount; ++j) {
        CalculateLine(ctx, j);
        for (std::size_t m = 0; m < kMonths; ++m) {
            ctx.totalMonthly[m] += ctx.lineMonthly[m];
            for (std::size_t h = 0; h < kHours; ++h) ctx.totalHourly[m][h] += ctx.lineHourly[m][h];
        }
    }
    return 0;
}

void CalculateLine(SimulationContext& ctx, int lineIndex) {
    const LineRecord line = ctx.lines[static_cast<std::size_t>(lineIndex)];
    ClearMonthValues(ctx);
    ctx.currentTilt = line.tiltRad;
    ctx.currentAzimuth = line.azimuthRad;

    // A line of a power conditioner that does not exist has no efficiency and generates nothing;
    // the request reader refuses such lines before they get here.
    const bool knownPc = line.pcIndex >= 0 && line.pcIndex < kMaxPowerConditioners;
    const auto pc = static_cast<std::size_t>(knownPc ? line.pcIndex : 0);
    const double capacity = line.lineKw;
    const double loss = line.hasBooster == 1                  ? ctx.boosterLoss
                        : knownPc && ctx.mixedOrientation[pc] ? ctx.mixedOrientationLoss
                                                              : ctx.noLossFactor;
    const double mounting = MountingFactor(ctx);
    const double efficiency = knownPc ? ctx.pcEfficiency[pc] : 0;

    for (int m = 0; m < kMonths; ++m) {
        const auto i = static_cast<std::size_t>(m);
        ctx.month = m;
        PrepareMonth(ctx);
        const double s = SumTiltedDaily(ctx);
        ctx.lineMonthly[i] = capacity * s * ctx.temperatureFactor[i] * ctx.wiringSoilingFactor *
                             ctx.shadowFactor[i] * mounting * loss * efficiency *
                             ctx.daysInMonth[i];
        for (int h = 0; h < kHours; ++h) {
            // Without insolation the share of each hour is 0/0: the month has no generation.
            double v = 0;
            if (s != 0) {
                const SurfaceHour& hour = ctx.surfaceHours[static_cast<std::size_t>(h)];
                v = (hour.globalShare * ctx.reflectedDaily + hour.diffuse + hour.beam) *
                    ctx.lineMonthly[i] / s;
            }
            ctx.lineHourly[i][static_cast<std::size_t>(h)] = v < 0 ? 0 : v;
        }
    }
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
