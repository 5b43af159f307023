// The fixed choices of the user page: azimuths, tilts with their roof-pitch names, step-up
// units, and the year and month lists.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace ys {

struct AzimuthChoice {
    double degrees;  // 0 = due south, east negative, west positive
    std::string_view label;
};

inline constexpr std::array<AzimuthChoice, 33> kAzimuthTable = {{
    {-180.0, "-180°(真北)"}, {-165.0, "-165°"}, {-157.5, "-157.5°(北北東)"}, {-150.0, "-150°"},
    {-135.0, "-135°(北東)"}, {-120.0, "-120°"}, {-112.5, "-112.5°(東北東)"}, {-105.0, "-105°"},
    {-90.0, "-90°(東)"},     {-75.0, "-75°"},   {-67.5, "-67.5°(東南東)"},   {-60.0, "-60°"},
    {-45.0, "-45°(南東)"},   {-30.0, "-30°"},   {-22.5, "-22.5°(南南東)"},   {-15.0, "-15°"},
    {0.0, "0°(真南)"},       {15.0, "15°"},     {22.5, "22.5°(南南西)"},     {30.0, "30°"},
    {45.0, "45°(南西)"},     {60.0, "60°"},     {67.5, "67.5°(西南西)"},     {75.0, "75°"},
    {90.0, "90°(西)"},       {105.0, "105°"},   {112.5, "112.5°(西北西)"},   {120.0, "120°"},
    {135.0, "135°(北西)"},   {150.0, "150°"},   {157.5, "157.5°(北北西)"},   {165.0, "165°"},
    {180.0, "180°(真北)"},
}};

// Tilts run from 0 to 90 degrees; list position equals the degree.
inline constexpr int kTiltCount = 91;

// The label of a tilt, with the roof-pitch name where there is one (UTF-8).
std::string TiltLabel(int degrees);

inline constexpr std::array<std::string_view, 2> kBoosterLabels = {"使用しない", "使用する"};

inline constexpr int kFirstListedYear = 1995;

// Years from 1995 up to and including `currentYear`.
std::vector<int> YearListValues(int currentYear);

// The position of the table entry whose degrees equal `degrees` exactly, or -1.
int AzimuthIndexOf(double degrees);

}  // namespace ys
