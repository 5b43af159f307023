#include "engine/constants.h"

#include <cmath>
#include <span>

#include "engine/profile_list.h"

namespace ys::gencalc {
namespace {

bool ReadIntegers(std::string_view key, const ys::profile::Document& file, SimulationContext& ctx,
                  std::span<std::int32_t> out) {
    if (ReadProfileList(kConstantsSection, key, file, ctx) < 0) return false;
    // Slots past the value's count are empty and give 0.
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = ParseInteger(ctx.listBuffer[i]);
    return true;
}

bool ReadReals(std::string_view key, const ys::profile::Document& file, SimulationContext& ctx,
               std::span<double> out) {
    if (ReadProfileList(kConstantsSection, key, file, ctx) < 0) return false;
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = ParseListReal(ctx.listBuffer[i]);
    return true;
}

double ReadSingle(std::string_view key, const ys::profile::Document& file) {
    return ParseReal(ReadProfileString(kConstantsSection, key, "", file));
}

// A zero, missing or non-finite divisor would turn every insolation value into inf or NaN.
bool UsableDivisor(double d) {
    return d != 0 && std::isfinite(d);
}

}  // namespace

int LoadConstants(SimulationContext& ctx, const ys::profile::Document& file) {
    if (!ReadIntegers("月間日数", file, ctx, ctx.daysInMonth) ||
        !ReadIntegers("通し日付", file, ctx, ctx.monthDay) ||
        !ReadReals("素子温度上昇損失補正係数", file, ctx, ctx.temperatureFactor) ||
        !ReadReals("均時差計算定数", file, ctx, ctx.eotCoefficients) ||
        !ReadReals("太陽赤緯計算定数", file, ctx, ctx.declinationCoefficients) ||
        !ReadReals("地表アルベド計算定数", file, ctx, ctx.albedoConstants) ||
        !ReadReals("時角計算定数a", file, ctx, ctx.hourAngleA) ||
        !ReadReals("時角計算定数b", file, ctx, ctx.hourAngleB)) {
        return -1;
    }

    ctx.globalDivisor = ReadSingle("全天日射量計算定数", file);
    ctx.diffuseDivisor = ReadSingle("天空散乱日射量計算定数", file);
    ctx.solarConstant = ReadSingle("太陽定数", file);
    ctx.directCoefficient = ReadSingle("直達日射量計算定数", file);
    ctx.wiringSoilingFactor = ReadSingle("配線、汚れ損失補正係数", file);
    ctx.roofMaterialFactor = ReadSingle("屋根材型補正係数", file);
    ctx.pitchedRoofFactor = ReadSingle("傾斜屋根置型補正係数", file);
    ctx.flatRoofFactor = ReadSingle("陸屋根置型補正係数", file);
    ctx.mixedOrientationLoss = ReadSingle("異方位ロス係数", file);
    ctx.boosterLoss = ReadSingle("昇圧ロス係数", file);
    ctx.noLossFactor = ReadSingle("ロス無し係数", file);
    if (!UsableDivisor(ctx.globalDivisor) || !UsableDivisor(ctx.diffuseDivisor)) return -1;

    ctx.globalDaily = {};
    ctx.diffuseDaily = {};
    ctx.albedoWeight = {};
    ctx.shadowFactor = {};
    ctx.totalMonthly = {};
    ctx.totalHourly = {};
    return 0;
}

int LoadConstants(SimulationContext& ctx, const std::string& path) {
    return LoadConstants(ctx, ys::profile::Document::Load(path));
}

}  // namespace ys::gencalc
