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
double DiffuseRatioAt(const PreparedMonth& pm, double cosOmega) {
    // Polar night: the sun never rises and the ratio would be 0/0.
    if (!(pm.sunsetDenominator > 0)) return 0;
    return NonNegative(kPiOver24 * (kHourMeanCos * cosOmega - pm.cosSunset) / pm.sunsetDenominator);
}

double GlobalRatioAt(const PreparedMonth& pm, double cosOmega, double diffuseRatio) {
    return NonNegative((pm.ratioA + pm.ratioB * cosOmega) * diffuseRatio);
}

double Share(double ratio, double sum) {
    return sum > 0 ? ratio / sum : 0;
}

}  // namespace

PreparedMonth PrepareMonth(const SimulationContext& ctx, int month, Surface surface) {
    const auto m = static_cast<std::size_t>(month);
    const int n = ctx.monthDay[m];
    const double w = ctx.albedoWeight[m];
    const auto& e = ctx.eotCoefficients;
    const auto& d = ctx.declinationCoefficients;

    PreparedMonth pm;
    pm.month = month;
    pm.surface = surface;
    pm.longitude = ctx.longitude;
    pm.global = ctx.globalDaily[m];
    pm.diffuse = ctx.diffuseDaily[m];

    pm.albedo = (1 - w) * ctx.albedoConstants[0] + w * ctx.albedoConstants[1];
    // The day count here has always been n - 2, one less than the day angle's.
    pm.extraterrestrial =
        ctx.solarConstant * (1 + ctx.directCoefficient * CosDeg((n - 2) * kDayAngleStep));
    pm.reflectedDaily = (1 - std::cos(surface.tilt)) * pm.global * pm.albedo * 0.5;
    pm.dayAngle = (n - 1) * kDayAngleStep;

    const double g = pm.dayAngle;
    pm.equationOfTime =
        (e[0] + e[1] * CosDeg(g) - e[2] * SinDeg(g) - e[3] * CosDeg(2 * g) - e[4] * SinDeg(2 * g)) /
        60;
    pm.declination =
        (d[0] - d[1] * CosDeg(g) + d[2] * SinDeg(g) - d[3] * CosDeg(2 * g) + d[4] * SinDeg(2 * g)) *
        kRadToDeg;

    // Beyond the polar circles the sun does not set (argument below -1) or does not rise
    // (above 1) on this day.
    const double cosSunset =
        std::clamp(-std::tan(ctx.latitude) * std::tan(pm.declination * kDegToRad), -1.0, 1.0);
    pm.sunsetHourAngle = std::acos(cosSunset) * kRadToDeg;

    const double s = SinDeg(pm.sunsetHourAngle - 60);
    pm.ratioA = ctx.hourAngleA[0] + ctx.hourAngleA[1] * s;
    pm.ratioB = ctx.hourAngleB[0] - ctx.hourAngleB[1] * s;

    const double sunsetRad = pm.sunsetHourAngle * kDegToRad;
    pm.cosSunset = std::cos(sunsetRad);
    pm.sunsetDenominator = std::sin(sunsetRad) - sunsetRad * std::cos(sunsetRad);

    const double sinPhi = std::sin(ctx.latitude);
    const double cosPhi = std::cos(ctx.latitude);
    const double sinDelta = SinDeg(pm.declination);
    const double cosDelta = CosDeg(pm.declination);
    const double sinBeta = std::sin(surface.tilt);
    const double cosBeta = std::cos(surface.tilt);
    const double sinGamma = std::sin(surface.azimuth);
    const double cosGamma = std::cos(surface.azimuth);
    pm.cosTilt = cosBeta;
    pm.zenith0 = sinPhi * sinDelta;
    pm.zenith1 = cosPhi * cosDelta;
    pm.incidence0 = sinDelta * (sinPhi * cosBeta - cosPhi * sinBeta * cosGamma);
    pm.incidence1 = cosDelta * (cosPhi * cosBeta + sinPhi * sinBeta * cosGamma);
    pm.incidence2 = cosDelta * sinBeta * sinGamma;

    for (int h = 0; h < kHours; ++h) {
        const auto i = static_cast<std::size_t>(h);
        const double omega = HourAngle(pm, h) * kDegToRad;
        pm.hourCos[i] = std::cos(omega);
        pm.hourSin[i] = std::sin(omega);
        const double cosOmega = pm.hourCos[i];
        const double rd = DiffuseRatioAt(pm, cosOmega);
        pm.diffuseRatioSum += rd;
        pm.globalRatioSum += GlobalRatioAt(pm, cosOmega, rd);
    }
    return pm;
}

double HourAngle(const PreparedMonth& pm, int h) {
    return -15 * (12 - (h + 1 - 0.5) - pm.longitude * kOneFifteenth + kJapanUtcOffsetHours -
                  pm.equationOfTime);
}

double DiffuseRatio(const PreparedMonth& pm, int h) {
    return DiffuseRatioAt(pm, CosDeg(HourAngle(pm, h)));
}

double GlobalRatio(const PreparedMonth& pm, int h) {
    const double cosOmega = CosDeg(HourAngle(pm, h));
    return GlobalRatioAt(pm, cosOmega, DiffuseRatioAt(pm, cosOmega));
}

double DiffuseShare(const PreparedMonth& pm, int h) {
    return Share(DiffuseRatio(pm, h), pm.diffuseRatioSum);
}

double GlobalShare(const PreparedMonth& pm, int h) {
    return Share(GlobalRatio(pm, h), pm.globalRatioSum);
}

double CosZenith(const PreparedMonth& pm, int h) {
    return NonNegative(pm.zenith0 + pm.zenith1 * CosDeg(HourAngle(pm, h)));
}

double CosIncidence(const PreparedMonth& pm, int h) {
    const double omega = HourAngle(pm, h) * kDegToRad;
    return NonNegative(pm.incidence0 + pm.incidence1 * std::cos(omega) +
                       pm.incidence2 * std::sin(omega));
}

SurfaceHour EvaluateHour(const PreparedMonth& pm, int h) {
    const double cosOmega = pm.hourCos[static_cast<std::size_t>(h)];
    const double sinOmega = pm.hourSin[static_cast<std::size_t>(h)];

    const double rd = DiffuseRatioAt(pm, cosOmega);
    const double rt = GlobalRatioAt(pm, cosOmega, rd);
    const double cosZenith = NonNegative(pm.zenith0 + pm.zenith1 * cosOmega);
    const double cosIncidence =
        NonNegative(pm.incidence0 + pm.incidence1 * cosOmega + pm.incidence2 * sinOmega);

    SurfaceHour out{};
    out.globalShare = Share(rt, pm.globalRatioSum);
    // Horizontal global, diffuse (never more than the global) and beam of the hour.
    const double global = out.globalShare * pm.global;
    double diffuse = Share(rd, pm.diffuseRatioSum) * pm.diffuse;
    if (diffuse > global) diffuse = global;
    const double beam = global - diffuse;

    const double rb = cosZenith != 0 ? std::min(cosIncidence / cosZenith, kMaxBeamRatio) : 0;
    out.beam = NonNegative(beam * rb);

    // Hay: the circumsolar part follows the beam, the rest of the sky is isotropic.
    const double extraterrestrialHorizontal = pm.extraterrestrial * cosZenith;
    if (diffuse != 0 && extraterrestrialHorizontal > 0) {
        const double anisotropy = std::min(beam / extraterrestrialHorizontal, kMaxAnisotropy);
        out.diffuse =
            NonNegative(diffuse * (anisotropy * rb + 0.5 * (1 + pm.cosTilt) * (1 - anisotropy)));
    }
    return out;
}

double TiltedBeam(const PreparedMonth& pm, int h) {
    return EvaluateHour(pm, h).beam;
}

double TiltedDiffuse(const PreparedMonth& pm, int h) {
    return EvaluateHour(pm, h).diffuse;
}

SurfaceDay SumTiltedDaily(const PreparedMonth& pm) {
    SurfaceDay day;
    double beam = 0;
    double diffuse = 0;
    for (int h = 0; h < kHours; ++h) {
        const SurfaceHour hour = EvaluateHour(pm, h);
        day.hours[static_cast<std::size_t>(h)] = hour;
        beam += hour.beam;
        diffuse += hour.diffuse;
    }
    day.tiltedDaily = (diffuse + beam) + pm.reflectedDaily;
    return day;
}

}  // namespace ys::gencalc
