// Solar geometry and the split of the region's monthly mean daily insolation into the hourly
// insolation on one roof surface, for the representative day of a month.
//
// Inputs come from the request and constants of a context: latitude (radians), longitude
// (degrees east), the month's daily global and diffuse horizontal insolation and the model
// constants; the surface's tilt and azimuth are radians (azimuth 0 south, east negative). Hour h
// is the clock interval from h:00 to h+1:00 in Japan's time zone (UTC+9), evaluated at its
// midpoint.
#pragma once

#include "engine/simulation_context.h"

namespace ys::gencalc {

// One roof surface, radians.
struct Surface {
    double tilt = 0;     // from the horizontal
    double azimuth = 0;  // 0 south, east negative, west positive
};

// A month on one surface, prepared once: everything the hours of its representative day read.
// A value: nothing of one month or surface can reach another.
struct PreparedMonth {
    int month = 0;  // 0 … 11
    Surface surface;
    // The month's inputs.
    double longitude = 0;  // degrees east
    double global = 0;     // daily global horizontal insolation (request unit after the divisor)
    double diffuse = 0;    // daily diffuse horizontal insolation

    double albedo = 0;
    double extraterrestrial = 0;  // irradiance normal to the sun, unit of the solar constant
    double dayAngle = 0;          // degrees
    double reflectedDaily = 0;    // ground-reflected insolation on the surface, per day
    double equationOfTime = 0;    // hours
    double declination = 0;       // degrees
    double sunsetHourAngle = 0;   // degrees
    double ratioA = 0;
    double ratioB = 0;
    // Sums over the day of the diffuse and global ratios, so the shares need not redo them.
    double diffuseRatioSum = 0;
    double globalRatioSum = 0;
    // The month's and surface's trigonometric terms, so that an hour costs one cosine and one
    // sine: cos θz = zenith0 + zenith1 cos ω, cos θ = incidence0 + incidence1 cos ω +
    // incidence2 sin ω.
    double cosSunset = 0;
    double sunsetDenominator = 0;  // sin ωs − ωs cos ωs, ωs in radians
    double cosTilt = 1;
    double zenith0 = 0, zenith1 = 0;
    double incidence0 = 0, incidence1 = 0, incidence2 = 0;
    // cos ω and sin ω at each hour's midpoint.
    std::array<double, kHours> hourCos{};
    std::array<double, kHours> hourSin{};
};

PreparedMonth PrepareMonth(const SimulationContext& inputs, int month, Surface surface);

// Hourly values, h = 0 … 23.
double HourAngle(const PreparedMonth& pm, int h);      // degrees, negative in the morning
double DiffuseRatio(const PreparedMonth& pm, int h);   // Liu and Jordan, hour-averaged
double GlobalRatio(const PreparedMonth& pm, int h);    // Collares-Pereira and Rabl
double DiffuseShare(const PreparedMonth& pm, int h);   // of the day's diffuse insolation
double GlobalShare(const PreparedMonth& pm, int h);    // of the day's global insolation
double CosZenith(const PreparedMonth& pm, int h);      // 0 while the sun is down
double CosIncidence(const PreparedMonth& pm, int h);   // 0 while the sun is behind the plane
double TiltedBeam(const PreparedMonth& pm, int h);     // beam on the surface
double TiltedDiffuse(const PreparedMonth& pm, int h);  // sky diffuse on the surface (Hay)

// GlobalShare(h), TiltedBeam(h) and TiltedDiffuse(h) together, each term evaluated once.
SurfaceHour EvaluateHour(const PreparedMonth& pm, int h);

// The representative day on the surface: every hour, and the day's insolation (beam, sky diffuse
// and ground-reflected).
struct SurfaceDay {
    std::array<SurfaceHour, kHours> hours{};
    double tiltedDaily = 0;
};
SurfaceDay SumTiltedDaily(const PreparedMonth& pm);

}  // namespace ys::gencalc
