#include "engine/generation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "engine/request.h"
#include "engine/solar_model.h"
#include "tests/engine/engine_test_support.h"

namespace ys::gencalc {
namespace {

using test::RequestFields;
using test::RequestLine;

SimulationContext Read(const RequestFields& req) {
    SimulationContext ctx = test::DefaultConstants();
    EXPECT_TRUE(ReadRequest(ctx, test::RequestDocument(req)).ok());
    return ctx;
}

SimulationContext Calculated(const RequestFields& req) {
    SimulationContext ctx = Read(req);
    EXPECT_EQ(RunCalculation(ctx), 0);
    return ctx;
}

RequestFields Azimuths(std::initializer_list<const char*> azimuths) {
    RequestFields req;
    req.lines.clear();
    for (const char* a : azimuths) req.lines.push_back(RequestLine{0, a, "30", "2000", 0});
    return req;
}

TEST(MixedOrientation, ToleranceIsOneRadianBetweenConsecutiveLines) {
    EXPECT_FALSE(Calculated(Azimuths({"0.0", "45.0"})).mixedOrientation[0]);
    EXPECT_TRUE(Calculated(Azimuths({"0.0", "90.0"})).mixedOrientation[0]);
    // Each line is compared with the one before it, not with the first.
    EXPECT_FALSE(Calculated(Azimuths({"0.0", "50.0", "100.0"})).mixedOrientation[0]);
    EXPECT_TRUE(Calculated(Azimuths({"0.0", "0.0", "-67.5"})).mixedOrientation[0]);
    // A single line is never mixed, whatever its direction.
    EXPECT_FALSE(Calculated(Azimuths({"180.0"})).mixedOrientation[0]);

    RequestFields tilts = Azimuths({"0.0", "0.0"});
    tilts.lines[1].tilt = "90";
    EXPECT_TRUE(Calculated(tilts).mixedOrientation[0]);
}

TEST(MixedOrientation, ADifferenceOfExactlyTheToleranceDoesNotCount) {
    SimulationContext ctx = Read(Azimuths({"0.0", "0.0"}));
    ctx.lines[1].azimuthRad = 1.0;
    RunCalculation(ctx);
    EXPECT_FALSE(ctx.mixedOrientation[0]);
    ctx.lines[1].azimuthRad = std::nextafter(1.0, 2.0);
    RunCalculation(ctx);
    EXPECT_TRUE(ctx.mixedOrientation[0]);
}

TEST(MixedOrientation, IsDecidedPerPowerConditioner) {
    RequestFields req;
    req.pcs = {"A,0.9", "B,0.9"};
    req.lines = {RequestLine{0, "0.0"}, RequestLine{1, "-90.0"}, RequestLine{0, "15.0"},
                 RequestLine{1, "90.0"}};
    SimulationContext ctx = Calculated(req);
    EXPECT_FALSE(ctx.mixedOrientation[0]);
    EXPECT_TRUE(ctx.mixedOrientation[1]);

    req.lines = {RequestLine{0, "0.0"}, RequestLine{0, "90.0"}};
    ctx = Calculated(req);
    EXPECT_TRUE(ctx.mixedOrientation[0]);
    EXPECT_FALSE(ctx.mixedOrientation[1]);  // no lines at all
}

TEST(CalculateLine, MultipliesTheFactorChainInOrder) {
    RequestFields req;
    req.shadowLoss = "5,5,5,5,5,5,5,5,5,5,5,10";
    const SimulationContext ctx = Read(req);
    const LineGeneration line = CalculateLine(ctx, 0, {});
    const Surface surface{ctx.lines[0].tiltRad, ctx.lines[0].azimuthRad};
    const double s = SumTiltedDaily(PrepareMonth(ctx, 11, surface)).tiltedDaily;
    ASSERT_GT(s, 0);
    const double expected = ctx.lines[0].lineKw * s * ctx.temperatureFactor[11] *
                            ctx.wiringSoilingFactor * ctx.shadowFactor[11] * ctx.pitchedRoofFactor *
                            ctx.noLossFactor * ctx.pcEfficiency[0] * ctx.daysInMonth[11];
    EXPECT_EQ(line.monthly[11], expected);
    EXPECT_DOUBLE_EQ(ctx.shadowFactor[11], 0.9);
}

TEST(CalculateLine, HourlyValuesAddUpToTheMonth) {
    RequestFields req;
    req.lines = {RequestLine{0, "-67.5", "45", "3200", 0}};
    const LineGeneration line = CalculateLine(Read(req), 0, {});
    for (std::size_t m = 0; m < 12; ++m) {
        const auto& hours = line.hourly[m];
        EXPECT_NEAR(std::accumulate(hours.begin(), hours.end(), 0.0), line.monthly[m],
                    1e-9 * line.monthly[m])
            << m;
        EXPECT_GT(line.monthly[m], 100);
        EXPECT_EQ(hours[0], 0);
        EXPECT_EQ(hours[23], 0);
    }
}

TEST(CalculateLine, LossFactorPrefersTheStepUpUnitOverMixedOrientation) {
    SimulationContext ctx = Read(RequestFields{});
    ctx.boosterLoss = 0.5;
    ctx.mixedOrientationLoss = 0.25;
    ctx.noLossFactor = 1.0;
    const PowerConditionerFlags plainPc{};
    const PowerConditionerFlags mixedPc{true, false};
    const double plain = CalculateLine(ctx, 0, plainPc).monthly[6];

    EXPECT_DOUBLE_EQ(CalculateLine(ctx, 0, mixedPc).monthly[6], plain * 0.25);
    ctx.lines[0].hasBooster = 1;
    EXPECT_DOUBLE_EQ(CalculateLine(ctx, 0, mixedPc).monthly[6], plain * 0.5);
    // Only 1 means a step-up unit.
    ctx.lines[0].hasBooster = 2;
    EXPECT_DOUBLE_EQ(CalculateLine(ctx, 0, plainPc).monthly[6], plain);
    // A constants file without its no-loss factor leaves such lines without generation.
    ctx.noLossFactor = 0;
    EXPECT_EQ(CalculateLine(ctx, 0, plainPc).monthly[6], 0);
}

TEST(CalculateLine, AMonthWithoutDaysGeneratesNothing) {
    SimulationContext ctx = Read(RequestFields{});
    ctx.daysInMonth[11] = 0;  // a day table with only eleven values
    const LineGeneration line = CalculateLine(ctx, 0, {});
    EXPECT_EQ(line.monthly[11], 0);
    for (double v : line.hourly[11]) EXPECT_EQ(v, 0);
    EXPECT_GT(line.monthly[10], 0);
}

TEST(CalculateLine, MountingFactorFollowsTheProductLine) {
    SimulationContext ctx = Read(RequestFields{});
    ctx.pitchedRoofFactor = 1.0;
    ctx.roofMaterialFactor = 0.5;
    ctx.flatRoofFactor = 0.25;
    const double pitched = CalculateLine(ctx, 0, {}).monthly[2];
    const std::pair<SystemType, double> cases[] = {{SystemType::kTallow, 0.5},
                                                   {SystemType::kMeridianG, 0.25},
                                                   {SystemType::kMeridianR, 1.0},
                                                   {SystemType::kKestrel, 1.0},
                                                   {static_cast<SystemType>(7), 1.0}};
    for (const auto& [type, factor] : cases) {
        ctx.systemType = type;
        EXPECT_DOUBLE_EQ(CalculateLine(ctx, 0, {}).monthly[2], pitched * factor)
            << static_cast<int>(type);
    }
}

TEST(Calculate, RepeatsExactlyAndLeavesItsInputAlone) {
    RequestFields req;
    req.pcs = {"A,0.9", "B,0.95"};
    req.lines = {RequestLine{0, "0.0", "30", "3000"}, RequestLine{0, "90.0", "30", "2000"},
                 RequestLine{1, "-45.0", "20", "1000", 1}};
    const SimulationContext inputs = Read(req);
    const GenerationResult first = Calculate(inputs);
    const GenerationResult second = Calculate(inputs);
    EXPECT_EQ(first.totalMonthly, second.totalMonthly);
    EXPECT_EQ(first.totalHourly, second.totalHourly);
    EXPECT_EQ(first.mixedOrientation, (PowerConditionerFlags{true, false}));
    // Nothing was written into the inputs; RunCalculation stores the same result.
    EXPECT_EQ(inputs.totalMonthly, MonthTable{});
    SimulationContext run = inputs;
    RunCalculation(run);
    EXPECT_EQ(run.totalMonthly, first.totalMonthly);
    EXPECT_EQ(run.mixedOrientation, first.mixedOrientation);
}

TEST(RunCalculation, SumsAllLinesEachWithItsOwnPowerConditioner) {
    RequestFields req;
    req.pcs = {"A,0.9", "B,0.45"};
    req.lines = {RequestLine{0, "0.0", "30", "3000"}, RequestLine{1, "0.0", "30", "3000"},
                 RequestLine{0, "0.0", "30", "0"}};
    SimulationContext ctx = Calculated(req);
    SimulationContext single = ctx;
    single.lineCount = 1;
    RunCalculation(single);
    for (int m = 0; m < 12; ++m) {
        // The second power conditioner converts half as well; the empty line adds nothing.
        EXPECT_NEAR(ctx.totalMonthly[m], single.totalMonthly[m] * 1.5, 1e-9 * ctx.totalMonthly[m]);
        EXPECT_NEAR(ctx.totalHourly[m][12], single.totalHourly[m][12] * 1.5, 1e-9);
    }
}

TEST(RunCalculation, NoLinesGiveZeroEverywhere) {
    RequestFields req;
    req.lines.clear();
    SimulationContext ctx = Calculated(req);
    for (int m = 0; m < 12; ++m) {
        EXPECT_EQ(ctx.totalMonthly[m], 0);
        for (double v : ctx.totalHourly[m]) EXPECT_EQ(v, 0);
    }
    EXPECT_TRUE(ResultsAreValid(ctx));
}

TEST(RunCalculation, AMonthWithoutInsolationGivesZeroHours) {
    RequestFields req;
    req.monthly[1] = "0,0,0";
    SimulationContext ctx = Calculated(req);
    EXPECT_EQ(ctx.totalMonthly[1], 0);
    for (double v : ctx.totalHourly[1]) EXPECT_EQ(v, 0);
    EXPECT_GT(ctx.totalMonthly[2], 0);
    EXPECT_TRUE(ResultsAreValid(ctx));
}

TEST(ResultsAreValid, RefusesTotalsThatCannotBeWritten) {
    RequestFields req;
    req.monthly[4] = "1e38,1,0";
    EXPECT_FALSE(ResultsAreValid(Calculated(req)));
    req.monthly[4] = "1e39,1,0";  // infinite after narrowing
    EXPECT_FALSE(ResultsAreValid(Calculated(req)));

    SimulationContext ctx = Calculated(RequestFields{});
    EXPECT_TRUE(ResultsAreValid(ctx));
    ctx.totalMonthly[0] = 2147483647.9;
    EXPECT_TRUE(ResultsAreValid(ctx));
    ctx.totalMonthly[0] = 2147483648.0;
    EXPECT_FALSE(ResultsAreValid(ctx));
    ctx.totalMonthly[0] = -2147483648.9;
    EXPECT_TRUE(ResultsAreValid(ctx));
    ctx.totalMonthly[0] = 0;
    ctx.totalHourly[3][7] = std::nan("");
    EXPECT_FALSE(ResultsAreValid(ctx));
}

}  // namespace
}  // namespace ys::gencalc
