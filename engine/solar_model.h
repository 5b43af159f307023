// Solar geometry and the split of the region's monthly mean daily insolation into the hourly
// insolation on one roof surface, for the representative day of a month.
//
// Inputs come from the context: latitude (radians), longitude (degrees east), the current
// surface's tilt and azimuth (radians; azimuth 0 south, east negative), the month's daily global
// and diffuse horizontal insolation and the model constants. Hour h is the clock interval from
// h:00 to h+1:00 in Japan's time zone (UTC+9), evaluated at its midpoint.
#pragma once

#include "engine/simulation_context.h"

namespace ys::gencalc {

// The month values for ctx.month, ctx.currentTilt and ctx.currentAzimuth. Call first: the
// hourly functions rely on what it leaves in the context.
void PrepareMonth(SimulationContext& ctx);

// Hourly values, h = 0 … 23; they read only the month values and the inputs.
double HourAngle(const SimulationContext& ctx, int h);      // degrees, negative in the morning
double DiffuseRatio(const SimulationContext& ctx, int h);   // Liu and Jordan, hour-averaged
double GlobalRatio(const SimulationContext& ctx, int h);    // Collares-Pereira and Rabl
double DiffuseShare(const SimulationContext& ctx, int h);   // of the day's diffuse insolation
double GlobalShare(const SimulationContext& ctx, int h);    // of the day's global insolation
double CosZenith(const SimulationContext& ctx, int h);      // 0 while the sun is down
double CosIncidence(const SimulationContext& ctx, int h);   // 0 while the sun is behind the plane
double TiltedBeam(const SimulationContext& ctx, int h);     // beam on the surface
double TiltedDiffuse(const SimulationContext& ctx, int h);  // sky diffuse on the surface (Hay)

// GlobalShare(h), TiltedBeam(h) and TiltedDiffuse(h) together, each term evaluated once.
SurfaceHour EvaluateHour(const SimulationContext& ctx, int h);

// The day's insolation on the surface (beam, sky diffuse and ground-reflected): sets and returns
// ctx.tiltedDaily, and keeps every hour's EvaluateHour in ctx.surfaceHours. Call after
// PrepareMonth.
double SumTiltedDaily(SimulationContext& ctx);

}  // namespace ys::gencalc
