#include "engine/solar_model.h"

#include <algorithm>
#include <cmath>

namespace ys::gencalc {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;  // 0.017453292519943295
constexpr double kRadToDeg = 57.29577951308232;
constexpr double kDayAngleStep = 360.0 / 365.0;  // degrees per day
constexpr double kPiOver24 = kPi / 24.0;         // one hour of the sun's path, radians
constexpr double kOneFifteenth = 1.0 / 15.0;     // hours per degree of longitude
constexpr double kJapanUtcOffsetHours = 9.0;
// sin(π/24) × 24/π: the mean of the cosine over a one-hour interval relative to its value at
// the midpoint.
constexpr double kHourMeanCos = 0.9971466573496368;
// Guards for an hour whose midpoint finds the sun just above the horizon. The daily split still
// gives such an hour some beam, and cos θ / cos θz then multiplies it without bound (a north-west
// wall in August got ten times the day's global insolation in its sunset hour). Rb is held to its
// value for the sun 1° above the horizon on a surface facing it, 1 / cos 89°, and Hay's
// anisotropy index, a beam transmittance, to 1. Hours with the sun higher are not affected.
constexpr double kMaxBeamRatio = 57.2986884985499;
constexpr double kMaxAnisotropy = 1.0;

double SinDeg(double degrees) {
    return std::sin(degrees * kDegToRad);
}
double CosDeg(double degrees) {
    return std::cos(degrees * kDegToRad);
}
double NonNegative(double v) {
    return v < 0 ? 0 : v;
}

// Liu and Jordan's ratio for an hour whose midpoint hour angle has the cosine `cosOmega`.
double DiffuseRatioAt(const SimulationContext& ctx, double cosOmega) {
    // Polar night: the sun never rises and the ratio would be 0/0.
    if (!(ctx.sunsetDenominator > 0)) return 0;
    return NonNegative(kPiOver24 * (kHourMeanCos * cosOmega - ctx.cosSunset) /
                       ctx.sunsetDenominator);
}

double GlobalRatioAt(const SimulationContext& ctx, double cosOmega, double diffuseRatio) {
    return NonNegative((ctx.ratioA + ctx.ratioB * cosOmega) * diffuseRatio);
}

double Share(double ratio, double sum) {
    return sum > 0 ? ratio / sum : 0;
}

}  // namespace

void PrepareMonth(SimulationContext& ctx) {
    const auto m = static_cast<std::size_t>(ctx.month);
    const int n = ctx.monthDay[m];
    const double w = ctx.albedoWeight[m];
    const auto& e = ctx.eotCoefficients;
    const auto& d = ctx.declinationCoefficients;

    ctx.albedo = (1 - w) * ctx.albedoConstants[0] + w * ctx.albedoConstants[1];
    // The day count here has always been n - 2, one less than the day angle's.
    ctx.extraterrestrial =
        ctx.solarConstant * (1 + ctx.directCoefficient * CosDeg((n - 2) * kDayAngleStep));
    ctx.reflectedDaily = (1 - std::cos(ctx.currentTilt)) * ctx.globalDaily[m] * ctx.albedo * 0.5;
    ctx.dayAngle = (n - 1) * kDayAngleStep;

    const double g = ctx.dayAngle;
    ctx.equationOfTime =
        (e[0] + e[1] * CosDeg(g) - e[2] * SinDeg(g) - e[3] * CosDeg(2 * g) - e[4] * SinDeg(2 * g)) /
        60;
    ctx.declination =
        (d[0] - d[1] * CosDeg(g) + d[2] * SinDeg(g) - d[3] * CosDeg(2 * g) + d[4] * SinDeg(2 * g)) *
        kRadToDeg;

    // Beyond the polar circles the sun does not set (argument below -1) or does not rise
    // (above 1) on this day.
    const double cosSunset =
        std::clamp(-std::tan(ctx.latitude) * std::tan(ctx.declination * kDegToRad), -1.0, 1.0);
    ctx.sunsetHourAngle = std::acos(cosSunset) * kRadToDeg;

    const double s = SinDeg(ctx.sunsetHourAngle - 60);
    ctx.ratioA = ctx.hourAngleA[0] + ctx.hourAngleA[1] * s;
    ctx.ratioB = ctx.hourAngleB[0] - ctx.hourAngleB[1] * s;

    const double sunsetRad = ctx.sunsetHourAngle * kDegToRad;
    ctx.cosSunset = std::cos(sunsetRad);
    ctx.sunsetDenominator = std::sin(sunsetRad) - sunsetRad * std::cos(sunsetRad);

    const double sinPhi = std::sin(ctx.latitude);
    const double cosPhi = std::cos(ctx.latitude);
    const double sinDelta = SinDeg(ctx.declination);
    const double cosDelta = CosDeg(ctx.declination);
    const double sinBeta = std::sin(ctx.currentTilt);
    const double cosBeta = std::cos(ctx.currentTilt);
    const double sinGamma = std::sin(ctx.currentAzimuth);
    const double cosGamma = std::cos(ctx.currentAzimuth);
    ctx.cosTilt = cosBeta;
    ctx.zenith0 = sinPhi * sinDelta;
    ctx.zenith1 = cosPhi * cosDelta;
    ctx.incidence0 = sinDelta * (sinPhi * cosBeta - cosPhi * sinBeta * cosGamma);
    ctx.incidence1 = cosDelta * (cosPhi * cosBeta + sinPhi * sinBeta * cosGamma);
    ctx.incidence2 = cosDelta * sinBeta * sinGamma;

    ctx.diffuseRatioSum = 0;
    ctx.globalRatioSum = 0;
    for (int h = 0; h < kHours; ++h) {
        const auto i = static_cast<std::size_t>(h);
        const double omega = HourAngle(ctx, h) * kDegToRad;
        ctx.hourCos[i] = std::cos(omega);
        ctx.hourSin[i] = std::sin(omega);
        const double cosOmega = ctx.hourCos[i];
        const double rd = DiffuseRatioAt(ctx, cosOmega);
        ctx.diffuseRatioSum += rd;
        ctx.globalRatioSum += GlobalRatioAt(ctx, cosOmega, rd);
    }
}

double HourAngle(const SimulationContext& ctx, int h) {
    return -15 * (12 - (h + 1 - 0.5) - ctx.longitude * kOneFifteenth + kJapanUtcOffsetHours -
                  ctx.equationOfTime);
}

double DiffuseRatio(const SimulationContext& ctx, int h) {
    return DiffuseRatioAt(ctx, CosDeg(HourAngle(ctx, h)));
}

double GlobalRatio(const SimulationContext& ctx, int h) {
    const double cosOmega = CosDeg(HourAngle(ctx, h));
    return GlobalRatioAt(ctx, cosOmega, DiffuseRatioAt(ctx, cosOmega));
}

double DiffuseShare(const SimulationContext& ctx, int h) {
    return Share(DiffuseRatio(ctx, h), ctx.diffuseRatioSum);
}

double GlobalShare(const SimulationContext& ctx, int h) {
    return Share(GlobalRatio(ctx, h), ctx.globalRatioSum);
}

double CosZenith(const SimulationContext& ctx, int h) {
    return NonNegative(ctx.zenith0 + ctx.zenith1 * CosDeg(HourAngle(ctx, h)));
}

double CosIncidence(const SimulationContext& ctx, int h) {
    const double omega = HourAngle(ctx, h) * kDegToRad;
    return NonNegative(ctx.incidence0 + ctx.incidence1 * std::cos(omega) +
                       ctx.incidence2 * std::sin(omega));
}

SurfaceHour EvaluateHour(const SimulationContext& ctx, int h) {
    const auto m = static_cast<std::size_t>(ctx.month);
    const double cosOmega = ctx.hourCos[static_cast<std::size_t>(h)];
    const double sinOmega = ctx.hourSin[static_cast<std::size_t>(h)];

    const double rd = DiffuseRatioAt(ctx, cosOmega);
    const double rt = GlobalRatioAt(ctx, cosOmega, rd);
    const double cosZenith = NonNegative(ctx.zenith0 + ctx.zenith1 * cosOmega);
    const double cosIncidence =
        NonNegative(ctx.incidence0 + ctx.incidence1 * cosOmega + ctx.incidence2 * sinOmega);

    SurfaceHour out{};
    out.globalShare = Share(rt, ctx.globalRatioSum);
    // Horizontal global, diffuse (never more than the global) and beam of the hour.
    const double global = out.globalShare * ctx.globalDaily[m];
    double diffuse = Share(rd, ctx.diffuseRatioSum) * ctx.diffuseDaily[m];
    if (diffuse > global) diffuse = global;
    const double beam = global - diffuse;

    const double rb = cosZenith != 0 ? std::min(cosIncidence / cosZenith, kMaxBeamRatio) : 0;
    out.beam = NonNegative(beam * rb);

    // Hay: the circumsolar part follows the beam, the rest of the sky is isotropic.
    const double extraterrestrialHorizontal = ctx.extraterrestrial * cosZenith;
    if (diffuse != 0 && extraterrestrialHorizontal > 0) {
        const double anisotropy = std::min(beam / extraterrestrialHorizontal, kMaxAnisotropy);
        out.diffuse =
            NonNegative(diffuse * (anisotropy * rb + 0.5 * (1 + ctx.cosTilt) * (1 - anisotropy)));
    }
    return out;
}

double TiltedBeam(const SimulationContext& ctx, int h) {
    return EvaluateHour(ctx, h).beam;
}

double TiltedDiffuse(const SimulationContext& ctx, int h) {
    return EvaluateHour(ctx, h).diffuse;
}

double SumTiltedDaily(SimulationContext& ctx) {
    double beam = 0;
    double diffuse = 0;
    for (int h = 0; h < kHours; ++h) {
        const SurfaceHour hour = EvaluateHour(ctx, h);
        ctx.surfaceHours[static_cast<std::size_t>(h)] = hour;
        beam += hour.beam;
        diffuse += hour.diffuse;
    }
    ctx.tiltedDaily = (diffuse + beam) + ctx.reflectedDaily;
    return ctx.tiltedDaily;
}

}  // namespace ys::gencalc
