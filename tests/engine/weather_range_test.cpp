#include "engine/weather_range.h"

#include <gtest/gtest.h>

#include "engine/request.h"
#include "tests/engine/engine_test_support.h"

namespace ys::gencalc {
namespace {

using test::RequestFields;

// Tokyo's dullest and sunniest years (MONSOLA-11, kWh/m2/day).
constexpr MonthTable kDullest = {2.10, 2.14, 2.15, 3.32, 4.01, 3.21,
                                 2.71, 3.26, 1.97, 2.07, 1.80, 1.94};
constexpr MonthTable kSunniest = {3.02, 3.71, 4.08, 5.17, 5.39, 5.01,
                                  6.02, 5.40, 3.87, 3.41, 2.99, 2.73};

SimulationContext Prepared(const RequestFields& req) {
    SimulationContext ctx = test::DefaultConstants();
    EXPECT_TRUE(ReadRequest(ctx, test::RequestDocument(req)).ok());
    return ctx;
}

RequestFields Surface(const char* azimuth, const char* tilt) {
    RequestFields req;
    req.lines = {test::RequestLine{0, azimuth, tilt, "4500", 0}};
    return req;
}

TEST(WeatherRange, AFlatSurfaceFollowsTheGlobalInsolationExactly) {
    const SimulationContext flat = Prepared(Surface("0.0", "0"));
    const GenerationTotals mean = Simulate(flat);
    for (const MonthTable& year : {kDullest, kSunniest}) {
        const GenerationTotals other = Simulate(WithMonthlyGlobal(flat, year));
        for (std::size_t m = 0; m < kMonths; ++m) {
            const double meanGlobal = flat.globalDaily[m] * flat.globalDivisor;
            EXPECT_NEAR(other.monthly[m] / mean.monthly[m], year[m] / meanGlobal, 1e-9) << m;
        }
    }
}

TEST(WeatherRange, ASurfaceFacingSouthLiesBetweenItsDullestAndSunniestYearEveryMonth) {
    for (const char* tilt : {"10", "30", "45"}) {
        const WeatherRange r =
            ComputeWeatherRange(Prepared(Surface("0.0", tilt)), kDullest, kSunniest);
        for (std::size_t m = 0; m < kMonths; ++m) {
            EXPECT_LT(r.low[m], r.expected[m]) << tilt << " " << m;
            EXPECT_GT(r.high[m], r.expected[m]) << tilt << " " << m;
        }
    }
}

TEST(WeatherRange, RunsLeaveTheirInputUntouchedAndRepeatExactly) {
    const SimulationContext prepared = Prepared(Surface("-30.0", "30"));
    const SimulationContext before = prepared;
    const WeatherRange first = ComputeWeatherRange(prepared, kDullest, kSunniest);
    const WeatherRange second = ComputeWeatherRange(prepared, kDullest, kSunniest);
    EXPECT_EQ(first.low, second.low);
    EXPECT_EQ(first.high, second.high);
    EXPECT_EQ(first.expected, second.expected);
    EXPECT_EQ(prepared.globalDaily, before.globalDaily);
    EXPECT_EQ(prepared.diffuseDaily, before.diffuseDaily);
    EXPECT_EQ(prepared.totalMonthly, before.totalMonthly);
    // The mean year is the engine's own result for the request.
    const GenerationTotals run = Simulate(prepared);
    for (std::size_t m = 0; m < kMonths; ++m) {
        EXPECT_EQ(first.expected[m], TruncatedKwh(run.monthly[m]));
    }
}

TEST(WeatherRange, DiffuseOfAReplacedMonth) {
    const SimulationContext ctx = Prepared(Surface("0.0", "30"));
    const double h0June = ExtraterrestrialDaily(ctx, 5);
    const double h0December = ExtraterrestrialDaily(ctx, 11);
    // Tokyo: about 11.7 kWh/m2/day at midsummer, 4.6 at midwinter.
    EXPECT_NEAR(h0June, 11.7, 0.4);
    EXPECT_NEAR(h0December, 4.6, 0.3);

    const double sunset = SunsetHourAngle(ctx, 5);
    const MonthInsolation mean{3.57, 2.23};
    // The site's mean gives the site's own diffuse; no insolation, no diffuse.
    EXPECT_NEAR(ReplacedDiffuse(3.57, mean, h0June, sunset), 2.23, 1e-12);
    EXPECT_EQ(ReplacedDiffuse(0, mean, h0June, sunset), 0);
    // A clearer month has a smaller diffuse fraction, and the diffuse never exceeds the global.
    double previousFraction = 1;
    for (double global : {0.5, 1.5, 2.5, 3.5, 5.0, 7.0, 9.0, 11.0}) {
        const double d = ReplacedDiffuse(global, mean, h0June, sunset);
        EXPECT_GT(d, 0) << global;
        EXPECT_LE(d, global) << global;
        EXPECT_LE(d / global, previousFraction + 1e-12) << global;
        previousFraction = d / global;
    }
    // The two branches of the correlation.
    EXPECT_NEAR(MonthlyDiffuseFraction(0.5, 80), 1.391 - 1.78 + 1.04725 - 0.267125, 1e-12);
    EXPECT_NEAR(MonthlyDiffuseFraction(0.5, 100), 1.311 - 1.511 + 0.85675 - 0.227625, 1e-12);
    EXPECT_EQ(MonthlyDiffuseFraction(0.05, 80), MonthlyDiffuseFraction(0.3, 80));
}

}  // namespace
}  // namespace ys::gencalc
