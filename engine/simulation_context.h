// The engine's inputs as the request and constants files give them, and the results of a
// single gencalc run. The calculation itself works on values (solar_model.h, generation.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ys::gencalc {

inline constexpr int kMaxLines = 16;
inline constexpr int kMaxPowerConditioners = 2;
inline constexpr int kMonths = 12;
inline constexpr int kHours = 24;

// The list buffer: 16 fields of at most 255 characters; a profile value holds at most 1023.
inline constexpr int kListFields = 16;
inline constexpr std::size_t kListFieldChars = 255;
inline constexpr std::size_t kProfileValueChars = 1023;

// The product line; every unknown keyword counts as KESTREL.
enum class SystemType : std::int32_t {
    kKestrel = 1,
    kTallow = 2,
    kMeridianR = 3,
    kMeridianG = 4,
};

// One roof surface of the request.
struct LineRecord {
    std::int32_t pcIndex = 0;  // 0-based power conditioner the line feeds
    double azimuthRad = 0;     // 0 south, east negative, west positive
    double tiltRad = 0;        // from the horizontal
    double lineKw = 0;
    std::int32_t hasBooster = 0;  // 1 = through a step-up unit
};

// One hour on the current surface: its share of the day's global horizontal insolation, and the
// beam and sky diffuse insolation it brings to the surface.
struct SurfaceHour {
    double globalShare = 0;
    double beam = 0;
    double diffuse = 0;
};

using MonthTable = std::array<double, kMonths>;
using HourTable = std::array<std::array<double, kHours>, kMonths>;

struct SimulationContext {
    // The request.
    SystemType systemType = SystemType::kKestrel;
    std::int32_t pcCount = 0;
    std::array<double, kMaxPowerConditioners> pcEfficiency{};
    std::array<bool, kMaxPowerConditioners> mixedOrientation{};
    std::int32_t lineCount = 0;
    std::array<LineRecord, kMaxLines> lines{};
    double latitude = 0;   // radians, north positive
    double longitude = 0;  // degrees, east positive
    MonthTable shadowFactor{};
    MonthTable globalDaily{};   // already divided by globalDivisor
    MonthTable diffuseDaily{};  // already divided by diffuseDivisor
    MonthTable albedoWeight{};  // 0 … 1

    // Fields of the list value read last.
    std::array<std::string, kListFields> listBuffer;

    // The constants.
    std::array<std::int32_t, kMonths> daysInMonth{};
    std::array<std::int32_t, kMonths> monthDay{};
    MonthTable temperatureFactor{};
    std::array<double, 5> eotCoefficients{};
    std::array<double, 5> declinationCoefficients{};
    std::array<double, 2> albedoConstants{};
    std::array<double, 2> hourAngleA{};
    std::array<double, 2> hourAngleB{};
    double globalDivisor = 0;
    double diffuseDivisor = 0;
    double solarConstant = 0;
    double directCoefficient = 0;
    double wiringSoilingFactor = 0;
    double roofMaterialFactor = 0;
    double pitchedRoofFactor = 0;
    double flatRoofFactor = 0;
    double mixedOrientationLoss = 0;
    double boosterLoss = 0;
    double noLossFactor = 0;

    // The run's results, as the result file writes them.
    MonthTable totalMonthly{};
    HourTable totalHourly{};
};

}  // namespace ys::gencalc
