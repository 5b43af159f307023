// The shared reference data of Japanese sites (monthly mean daily insolation, horizontal and on
// tilted planes) and the engine's insolation on the same planes, for the agreement checks of the
// tests and the benchmarks.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/simulation_context.h"
#include "platform/result.h"

namespace ys::test::monsola {

// $YS_SHARED_DATA, else shared/data beside the source tree ($YS_SOURCE_DIR, else
// `fallbackSourceDir`) or beside the folder of worktrees that holds it.
std::string DataDir(const std::string& fallbackSourceDir);

struct Site {
    std::string code;
    std::string name;
    // As text, the way the region table passes them on to the request.
    std::string latDeg, latMin, lonDeg, lonMin;
    std::array<std::string, 12> global, diffuse, snowPercent;
};

// Monthly mean daily insolation (kWh/m²/day) on one plane of one site.
struct TiltedRow {
    std::string code;
    int azimuthDeg = 0;  // 0 south … 180 north, east and west alike
    int tiltDeg = 0;
    std::array<double, 12> daily{};
};

Result<std::vector<Site>> ReadSites(const std::string& path);
Result<std::vector<TiltedRow>> ReadTilted(const std::string& path);

// `ctx` holds the loaded constants; reads a request for the site as the GUI would write it.
Status PrepareSite(gencalc::SimulationContext& ctx, const Site& site);

// The engine's daily insolation S on the plane for each month; for a plane facing neither south
// nor north, the mean of its east and west mirror images.
std::array<double, 12> EngineDaily(const gencalc::SimulationContext& ctx, double azimuthDeg,
                                   double tiltDeg);

// Month lengths of a common year, to weight the months of an annual value.
inline constexpr std::array<int, 12> kDaysInMonth = {31, 28, 31, 30, 31, 30,
                                                     31, 31, 30, 31, 30, 31};
double Annual(const std::array<double, 12>& daily);

}  // namespace ys::test::monsola
