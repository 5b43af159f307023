// The engine's one calculation context: the request, the constants, the working values of the
// month being calculated and the results of a single gencalc run.
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

enum SystemType : std::int32_t {
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
    std::int32_t systemType = kKestrel;
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

    // Working values of the line and month being calculated.
    std::int32_t month = 0;
    double currentTilt = 0;     // radians
    double currentAzimuth = 0;  // radians
    double albedo = 0;
    double extraterrestrial = 0;
    double dayAngle = 0;  // degrees
    double reflectedDaily = 0;
    double equationOfTime = 0;   // hours
    double declination = 0;      // degrees
    double sunsetHourAngle = 0;  // degrees
    double ratioA = 0;
    double ratioB = 0;
    double tiltedDaily = 0;
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
    // cos ω and sin ω at each hour's midpoint, and each hour on the surface as SumTiltedDaily
    // found it.
    std::array<double, kHours> hourCos{};
    std::array<double, kHours> hourSin{};
    std::array<SurfaceHour, kHours> surfaceHours{};

    // The results.
    MonthTable lineMonthly{};
    HourTable lineHourly{};
    MonthTable totalMonthly{};
    HourTable totalHourly{};
};

}  // namespace ys::gencalc
