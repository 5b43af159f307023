#include "engine/solar_model.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/request.h"
#include "tests/engine/engine_test_support.h"

namespace ys::gencalc {
namespace {

constexpr double kPi = 3.141592653589793;
double Rad(double degrees) {
    return degrees * kPi / 180;
}

// Tokyo with the default constants, prepared for one month and one surface.
PreparedMonth Prepared(int month, double tiltDeg, double azimuthDeg,
                       const test::RequestFields& req = {}) {
    SimulationContext ctx = test::DefaultConstants();
    EXPECT_TRUE(ReadRequest(ctx, test::RequestDocument(req)).ok());
    return PrepareMonth(ctx, month, Surface{Rad(tiltDeg), Rad(azimuthDeg)});
}

bool SunUp(const PreparedMonth& ctx, int h) {
    return std::fabs(HourAngle(ctx, h)) < ctx.sunsetHourAngle;
}

TEST(SolarGeometry, HourAnglesAreCentredOnTheClockHourInJapanTime) {
    PreparedMonth ctx;
    ctx.longitude = 135;
    ctx.equationOfTime = 0;
    EXPECT_NEAR(HourAngle(ctx, 11), -7.5, 1e-12);
    EXPECT_NEAR(HourAngle(ctx, 12), 7.5, 1e-12);
    EXPECT_NEAR(HourAngle(ctx, 0), -172.5, 1e-12);
    // One hour further east the sun is 15 degrees further on at the same clock time.
    ctx.longitude = 150;
    EXPECT_NEAR(HourAngle(ctx, 11), 7.5, 1e-12);
    // The equation of time moves solar noon the same way.
    ctx.longitude = 135;
    ctx.equationOfTime = -0.25;
    EXPECT_NEAR(HourAngle(ctx, 12), 3.75, 1e-12);
}

TEST(SolarGeometry, DeclinationAndEquationOfTimeFollowTheSeasons) {
    SimulationContext inputs = test::DefaultConstants();
    PreparedMonth ctx;
    auto at = [&](int dayOfYear) {
        inputs.monthDay[0] = dayOfYear;
        ctx = PrepareMonth(inputs, 0, Surface{});
    };
    at(172);  // June solstice
    EXPECT_NEAR(ctx.declination, 23.44, 0.2);
    at(355);  // December solstice
    EXPECT_NEAR(ctx.declination, -23.44, 0.25);
    at(81);  // March equinox
    EXPECT_NEAR(ctx.declination, 0, 0.5);
    // The equation of time in hours: about -14 minutes in mid-February, +16 early in November.
    at(45);
    EXPECT_NEAR(ctx.equationOfTime * 60, -14.3, 0.3);
    at(307);
    EXPECT_NEAR(ctx.equationOfTime * 60, 16.4, 0.3);
    // The extraterrestrial irradiance peaks two days into the year (day count n - 2).
    at(2);
    EXPECT_DOUBLE_EQ(ctx.extraterrestrial, 1.367 * 1.033);
    EXPECT_NEAR(ctx.dayAngle, 360.0 / 365.0, 1e-15);
}

TEST(SolarGeometry, NightHoursGiveNothing) {
    for (int month : {0, 5, 11}) {
        PreparedMonth ctx = Prepared(month, 30, 0);
        int daylight = 0;
        for (int h = 0; h < 24; ++h) {
            SCOPED_TRACE(testing::Message() << "month " << month << " hour " << h);
            if (SunUp(ctx, h)) {
                ++daylight;
                EXPECT_GT(DiffuseRatio(ctx, h), 0);
                EXPECT_GT(CosZenith(ctx, h), 0);
                continue;
            }
            EXPECT_EQ(DiffuseRatio(ctx, h), 0);
            EXPECT_EQ(GlobalRatio(ctx, h), 0);
            EXPECT_EQ(CosZenith(ctx, h), 0);
            EXPECT_EQ(TiltedBeam(ctx, h), 0);
            EXPECT_EQ(TiltedDiffuse(ctx, h), 0);
        }
        // Tokyo: about 10 hours of day in December, 14 in June.
        EXPECT_GE(daylight, month == 5 ? 14 : 9);
        EXPECT_LE(daylight, month == 5 ? 15 : 11);
    }
}

TEST(SolarGeometry, SharesOfTheDayAddUpToOne) {
    PreparedMonth ctx = Prepared(3, 30, 0);
    double diffuse = 0;
    double global = 0;
    for (int h = 0; h < 24; ++h) {
        diffuse += DiffuseShare(ctx, h);
        global += GlobalShare(ctx, h);
    }
    EXPECT_NEAR(diffuse, 1, 1e-12);
    EXPECT_NEAR(global, 1, 1e-12);
}

TEST(TiltedInsolation, AHorizontalSurfaceReceivesTheGlobalHorizontalValue) {
    for (const char* latitude : {"35,41.2", "45,24.9", "24,20.0"}) {
        test::RequestFields req;
        req.latitude = latitude;
        for (int month = 0; month < 12; ++month) {
            SCOPED_TRACE(testing::Message() << latitude << " month " << month);
            PreparedMonth ctx = Prepared(month, 0, 0, req);
            EXPECT_EQ(ctx.reflectedDaily, 0);
            for (int h = 0; h < 24; ++h) {
                if (!SunUp(ctx, h)) continue;
                const double g = GlobalShare(ctx, h) * ctx.global;
                const double d = std::min(DiffuseShare(ctx, h) * ctx.diffuse, g);
                EXPECT_NEAR(CosIncidence(ctx, h), CosZenith(ctx, h), 1e-12);
                EXPECT_NEAR(TiltedBeam(ctx, h), g - d, 1e-12);
                EXPECT_NEAR(TiltedDiffuse(ctx, h), d, 1e-12);
            }
            EXPECT_NEAR(SumTiltedDaily(ctx).tiltedDaily, ctx.global, 1e-9);
        }
    }
}

TEST(TiltedInsolation, ASouthTiltGainsInWinterAndLosesInSummer) {
    PreparedMonth winter = Prepared(11, 30, 0);
    EXPECT_GT(SumTiltedDaily(winter).tiltedDaily, 1.3 * winter.global);
    PreparedMonth summer = Prepared(5, 60, 0);
    EXPECT_LT(SumTiltedDaily(summer).tiltedDaily, summer.global);
    // East and west see mirror images of the same day.
    PreparedMonth east = Prepared(3, 30, -90);
    PreparedMonth west = Prepared(3, 30, 90);
    EXPECT_NEAR(SumTiltedDaily(east).tiltedDaily, SumTiltedDaily(west).tiltedDaily,
                0.05 * SumTiltedDaily(west).tiltedDaily);
}

TEST(TiltedInsolation, ANorthWallGetsNoBeamButDiffuseAndReflected) {
    PreparedMonth ctx = Prepared(0, 90, 180);
    double beam = 0;
    double diffuse = 0;
    for (int h = 0; h < 24; ++h) {
        beam += TiltedBeam(ctx, h);
        diffuse += TiltedDiffuse(ctx, h);
    }
    EXPECT_EQ(beam, 0);
    EXPECT_GT(diffuse, 0);
    // Half the ground's reflection reaches a vertical surface: albedo 0.97 × 0.2 + 0.03 × 0.7.
    EXPECT_NEAR(ctx.albedo, 0.97 * 0.2 + 0.03 * 0.7, 1e-7);  // January's 3 % snow days
    EXPECT_NEAR(ctx.reflectedDaily, ctx.global * ctx.albedo * 0.5, 1e-12);
    EXPECT_NEAR(SumTiltedDaily(ctx).tiltedDaily, diffuse + ctx.reflectedDaily, 1e-12);
}

TEST(TiltedInsolation, AnHourWithTheSunJustAboveTheHorizonStaysBounded) {
    // Sagae-Aterazawa in August: the midpoint of the hour 18-19 finds the sun a thousandth of a
    // degree above the horizon, in front of a north-west wall.
    test::RequestFields req;
    req.latitude = "38,22.2";
    req.longitude = "140,11.5";
    req.monthly[7] = "4.48,2.3,0";
    PreparedMonth ctx = Prepared(7, 90, 135, req);
    ASSERT_GT(CosZenith(ctx, 18), 0);
    ASSERT_LT(CosZenith(ctx, 18), 1e-4);
    auto hour = [&ctx](int h) { return TiltedBeam(ctx, h) + TiltedDiffuse(ctx, h); };
    for (int h = 0; h < 24; ++h) EXPECT_LT(hour(h), 0.3) << h;
    EXPECT_LT(hour(18), 0.1 * hour(17));
    // The wall faces away from the noon sun: it gets less than the horizontal.
    EXPECT_LT(SumTiltedDaily(ctx).tiltedDaily, 0.5 * ctx.global);
    EXPECT_GT(SumTiltedDaily(ctx).tiltedDaily, 0.3 * ctx.global);
}

TEST(TiltedInsolation, DiffuseAboveGlobalIsCappedAndLeavesNoBeam) {
    test::RequestFields req;
    req.monthly.assign(12, "2.0,3.0,0");
    PreparedMonth ctx = Prepared(3, 30, 0, req);
    for (int h = 0; h < 24; ++h) {
        EXPECT_EQ(TiltedBeam(ctx, h), 0) << h;
        if (SunUp(ctx, h)) {
            EXPECT_GT(TiltedDiffuse(ctx, h), 0) << h;
        }
    }
    PreparedMonth flat = Prepared(3, 0, 0, req);
    EXPECT_NEAR(SumTiltedDaily(flat).tiltedDaily, 2.0, 1e-9);
}

TEST(TiltedInsolation, PolarNightAndPolarDayStayFinite) {
    test::RequestFields req;
    req.latitude = "80,0";
    req.monthly.assign(12, "1.0,0.5,50");
    PreparedMonth night = Prepared(11, 30, 0, req);
    EXPECT_EQ(night.sunsetHourAngle, 0);
    // Only the ground's reflection of the month's (nominal) global insolation is left.
    EXPECT_EQ(SumTiltedDaily(night).tiltedDaily, night.reflectedDaily);
    for (int h = 0; h < 24; ++h) EXPECT_EQ(GlobalShare(night, h), 0);

    PreparedMonth day = Prepared(5, 30, 0, req);
    EXPECT_NEAR(day.sunsetHourAngle, 180, 1e-12);
    for (int h = 0; h < 24; ++h) EXPECT_GT(DiffuseRatio(day, h), 0) << h;
    EXPECT_TRUE(std::isfinite(SumTiltedDaily(day).tiltedDaily));
    PreparedMonth flat = Prepared(5, 0, 0, req);
    EXPECT_NEAR(SumTiltedDaily(flat).tiltedDaily, 1.0, 1e-6);
}

}  // namespace
}  // namespace ys::gencalc
