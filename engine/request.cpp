#include "engine/request.h"

#include <string>

#include "engine/profile_list.h"

namespace ys::gencalc {
namespace {

constexpr double kPi = 3.141592653589793;

double DegreesToRadians(double degrees) {
    return degrees * kPi / 180.0;
}

Error ListFailure(int result, std::string_view section, std::string_view key) {
    std::string where = "[" + std::string(section) + "] " + std::string(key);
    return Error{result == kListMissing ? where + " is missing" : where + " does not fit"};
}

SystemType SystemTypeOf(std::string_view keyword) {
    // Compared case-sensitively; anything else is the first product line.
    if (keyword == "TALLOW") return SystemType::kTallow;
    if (keyword == "MERIDIAN-R") return SystemType::kMeridianR;
    if (keyword == "MERIDIAN-G") return SystemType::kMeridianG;
    return SystemType::kKestrel;
}

int ReadInt(std::string_view section, std::string_view key, int def,
            const ys::profile::Document& file) {
    auto value = file.Find(section, key);
    return value ? ys::profile::ParseProfileInt(*value) : def;
}

// Degrees and minutes of a "%s,%s" value, in degrees.
Result<double> ReadDegreesMinutes(std::string_view key, const ys::profile::Document& file,
                                  SimulationContext& ctx) {
    int n = ReadProfileList("LOCATION", key, file, ctx);
    if (n < 0) return ListFailure(n, "LOCATION", key);
    return ParseListReal(ctx.listBuffer[0]) + ParseListReal(ctx.listBuffer[1]) / 60.0;
}

}  // namespace

Status ReadRequest(SimulationContext& ctx, const ys::profile::Document& file) {
    ctx.latitude = 0;
    ctx.longitude = 0;

    ctx.systemType = SystemTypeOf(ReadProfileString("SYSTEM", "PV_SYSTEM", "", file));

    ctx.pcCount = ReadInt("PC", "NUM", 0, file);
    if (ctx.pcCount < 1 || ctx.pcCount > kMaxPowerConditioners) {
        return Error{"[PC] NUM is " + std::to_string(ctx.pcCount) + ", not 1 or 2"};
    }
    for (int k = 0; k < ctx.pcCount; ++k) {
        const std::string key = std::to_string(k);
        int n = ReadProfileList("PC", key, file, ctx);
        if (n < 0) return ListFailure(n, "PC", key);
        ctx.pcEfficiency[static_cast<std::size_t>(k)] = ParseListReal(ctx.listBuffer[1]);
    }

    ctx.lineCount = ReadInt("LINES", "NUM", 0, file);
    if (ctx.lineCount < 0) ctx.lineCount = 0;
    if (ctx.lineCount > kMaxLines) {
        return Error{"[LINES] NUM is " + std::to_string(ctx.lineCount) + ", more than 16"};
    }
    for (int j = 0; j < ctx.lineCount; ++j) {
        const std::string key = std::to_string(j);
        int n = ReadProfileList("LINES", key, file, ctx);
        if (n < 0) return ListFailure(n, "LINES", key);
        LineRecord& line = ctx.lines[static_cast<std::size_t>(j)];
        line.pcIndex = ParseInteger(ctx.listBuffer[0]);
        line.azimuthRad = DegreesToRadians(ParseListReal(ctx.listBuffer[2]));
        line.tiltRad = DegreesToRadians(ParseListReal(ctx.listBuffer[3]));
        line.lineKw = ParseInteger(ctx.listBuffer[4]) * 0.001;
        line.hasBooster = ParseInteger(ctx.listBuffer[5]);
        if (line.pcIndex < 0 || line.pcIndex >= ctx.pcCount) {
            return Error{"[LINES] " + key + " feeds power conditioner " +
                         std::to_string(line.pcIndex) + ", which does not exist"};
        }
    }

    auto latitude = ReadDegreesMinutes("LATITUDE", file, ctx);
    if (!latitude) return Error{latitude.error()};
    ctx.latitude = DegreesToRadians(*latitude);
    auto longitude = ReadDegreesMinutes("LONGITUDE", file, ctx);
    if (!longitude) return Error{longitude.error()};
    ctx.longitude = *longitude;

    int shadows = ReadProfileList("LOCATION", "SHADOW_LOSS", file, ctx);
    if (shadows < 0) return ListFailure(shadows, "LOCATION", "SHADOW_LOSS");
    for (int m = 0; m < kMonths; ++m) {
        const auto i = static_cast<std::size_t>(m);
        ctx.shadowFactor[i] = m < shadows ? 1.0 - ParseListReal(ctx.listBuffer[i]) / 100.0 : 1.0;
    }

    for (int m = 0; m < kMonths; ++m) {
        const std::string key = std::to_string(m + 1) + "M";
        int n = ReadProfileList("MONTHLY_AREA_DATA", key, file, ctx);
        if (n < 0) return ListFailure(n, "MONTHLY_AREA_DATA", key);
        const auto i = static_cast<std::size_t>(m);
        ctx.globalDaily[i] = ParseListReal(ctx.listBuffer[0]) / ctx.globalDivisor;
        ctx.diffuseDaily[i] = ParseListReal(ctx.listBuffer[1]) / ctx.diffuseDivisor;
        ctx.albedoWeight[i] = ParseListReal(ctx.listBuffer[2]) / 100.0;
    }
    return {};
}

}  // namespace ys::gencalc
