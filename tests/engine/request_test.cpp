#include "engine/request.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/engine/engine_test_support.h"

namespace ys::gencalc {
namespace {

using test::RequestDocument;
using test::RequestFields;
using test::RequestLine;

constexpr double kPi = 3.141592653589793;

double Narrow(double v) {
    return static_cast<double>(static_cast<float>(v));
}

Status Read(const RequestFields& req, SimulationContext& ctx) {
    return ReadRequest(ctx, RequestDocument(req));
}

TEST(ReadRequest, ReadsTheRequestTheGuiWritesWithoutDetails) {
    SimulationContext ctx = test::DefaultConstants();
    ASSERT_TRUE(Read(RequestFields{}, ctx).ok());
    EXPECT_EQ(ctx.systemType, SystemType::kKestrel);
    EXPECT_EQ(ctx.pcCount, 1);
    EXPECT_EQ(ctx.pcEfficiency[0], Narrow(0.945));
    ASSERT_EQ(ctx.lineCount, 1);
    EXPECT_EQ(ctx.lines[0].pcIndex, 0);
    EXPECT_EQ(ctx.lines[0].azimuthRad, 0.0);
    EXPECT_DOUBLE_EQ(ctx.lines[0].tiltRad, 30 * kPi / 180);
    EXPECT_DOUBLE_EQ(ctx.lines[0].lineKw, 4.5);
    EXPECT_EQ(ctx.lines[0].hasBooster, 0);
    EXPECT_DOUBLE_EQ(ctx.latitude, (35 + Narrow(41.2) / 60) * kPi / 180);
    EXPECT_DOUBLE_EQ(ctx.longitude, 139 + Narrow(45.6) / 60);
    for (double f : ctx.shadowFactor) EXPECT_EQ(f, 1.0);
    EXPECT_EQ(ctx.globalDaily[0], Narrow(2.43));
    EXPECT_EQ(ctx.diffuseDaily[11], Narrow(0.89));
    EXPECT_EQ(ctx.albedoWeight[0], 0.03);
    EXPECT_EQ(ctx.albedoWeight[2], 0.0);
}

TEST(ReadRequest, ProductLineIsMatchedCaseSensitively) {
    const std::pair<const char*, SystemType> cases[] = {{"KESTREL", SystemType::kKestrel},
                                                        {"TALLOW", SystemType::kTallow},
                                                        {"MERIDIAN-R", SystemType::kMeridianR},
                                                        {"MERIDIAN-G", SystemType::kMeridianG},
                                                        {"tallow", SystemType::kKestrel},
                                                        {"kestrel", SystemType::kKestrel},
                                                        {"", SystemType::kKestrel},
                                                        {"OTHER", SystemType::kKestrel}};
    for (const auto& [keyword, type] : cases) {
        SimulationContext ctx = test::DefaultConstants();
        RequestFields req;
        req.system = keyword;
        ASSERT_TRUE(Read(req, ctx).ok());
        EXPECT_EQ(ctx.systemType, type) << keyword;
    }
}

TEST(ReadRequest, PowerConditionerCountMustBeOneOrTwoWithAKeyEach) {
    SimulationContext ctx = test::DefaultConstants();
    RequestFields req;
    req.pcs = {};
    EXPECT_FALSE(Read(req, ctx).ok());
    req.pcs = {"A,0.9", "B,0.8", "C,0.7"};
    EXPECT_FALSE(Read(req, ctx).ok());
    req.pcs = {"A,0.9", "B,0.8"};
    ASSERT_TRUE(Read(req, ctx).ok());
    EXPECT_EQ(ctx.pcEfficiency[1], Narrow(0.8));

    std::string text = test::RequestText(req);
    text.replace(text.find("1=B,0.8"), 7, "X=B,0.8");
    EXPECT_FALSE(ReadRequest(ctx, profile::Document::Parse(text)).ok());
    // A missing file has no [PC] NUM at all.
    EXPECT_FALSE(ReadRequest(ctx, profile::Document::Load("/nonexistent/pc_in.ini")).ok());
}

TEST(ReadRequest, LineCountOfZeroOrLessMeansNoLinesAndMoreThanSixteenFails) {
    SimulationContext ctx = test::DefaultConstants();
    RequestFields req;
    req.lines = {};
    ASSERT_TRUE(Read(req, ctx).ok());
    EXPECT_EQ(ctx.lineCount, 0);

    std::string text = test::RequestText(req);
    text.replace(text.find("NUM=0"), 5, "NUM=-3");
    ASSERT_TRUE(ReadRequest(ctx, profile::Document::Parse(text)).ok());
    EXPECT_EQ(ctx.lineCount, 0);

    req.lines.assign(16, RequestLine{});
    EXPECT_TRUE(Read(req, ctx).ok());
    req.lines.assign(17, RequestLine{});
    EXPECT_FALSE(Read(req, ctx).ok());
}

TEST(ReadRequest, LineFieldsAreConvertedAsTheirTypesSay) {
    SimulationContext ctx = test::DefaultConstants();
    RequestFields req;
    req.pcs = {"A,0.9", "B,0.8"};
    req.lines = {RequestLine{1, "-22.5", "20", "3500.7", 1}, RequestLine{0, "90.0", "0", "0", 2}};
    ASSERT_TRUE(Read(req, ctx).ok());
    EXPECT_EQ(ctx.lines[0].pcIndex, 1);
    EXPECT_DOUBLE_EQ(ctx.lines[0].azimuthRad, -22.5 * kPi / 180);
    EXPECT_DOUBLE_EQ(ctx.lines[0].tiltRad, 20 * kPi / 180);
    EXPECT_DOUBLE_EQ(ctx.lines[0].lineKw, 3.5);  // the integer part of 3500.7 W
    EXPECT_EQ(ctx.lines[0].hasBooster, 1);
    EXPECT_EQ(ctx.lines[1].tiltRad, 0.0);
    EXPECT_EQ(ctx.lines[1].lineKw, 0.0);
    EXPECT_EQ(ctx.lines[1].hasBooster, 2);
}

TEST(ReadRequest, RefusesLinesOfPowerConditionersThatDoNotExist) {
    for (int pc : {1, -1, 2}) {
        SimulationContext ctx = test::DefaultConstants();
        RequestFields req;
        req.lines = {RequestLine{}, RequestLine{pc}};
        EXPECT_FALSE(Read(req, ctx).ok()) << pc;
    }
}

TEST(ReadRequest, RefusesALineValueThatDoesNotFitTheListBuffer) {
    SimulationContext ctx = test::DefaultConstants();
    RequestFields req;
    req.lines = {RequestLine{0, "0.0", "30", "4500,0,0,0,0,0,0,0,0,0,0,0,0", 0}};
    EXPECT_FALSE(Read(req, ctx).ok());
    req.lines = {RequestLine{0, std::string(256, '1'), "30", "4500", 0}};
    EXPECT_FALSE(Read(req, ctx).ok());
}

TEST(ReadRequest, EachLocationKeyAndEveryMonthIsRequired) {
    for (const char* key : {"LATITUDE=", "LONGITUDE=", "SHADOW_LOSS=", "1M=", "12M="}) {
        SimulationContext ctx = test::DefaultConstants();
        std::string text = test::RequestText(RequestFields{});
        text.replace(text.find(std::string("\n") + key) + 1, 1, "x");
        EXPECT_FALSE(ReadRequest(ctx, profile::Document::Parse(text)).ok()) << key;
    }
}

TEST(ReadRequest, LocationIsResetBeforeReadingAndEmptyFieldsGiveZero) {
    SimulationContext ctx = test::DefaultConstants();
    ctx.latitude = 1;
    ctx.longitude = 2;
    RequestFields req;
    req.pcs = {};
    EXPECT_FALSE(Read(req, ctx).ok());
    EXPECT_EQ(ctx.latitude, 0.0);
    EXPECT_EQ(ctx.longitude, 0.0);

    req = RequestFields{};
    req.latitude = ",";
    req.longitude = ",";
    req.monthly.assign(12, ",,");
    ASSERT_TRUE(Read(req, ctx).ok());
    EXPECT_EQ(ctx.latitude, 0.0);
    EXPECT_EQ(ctx.longitude, 0.0);
    EXPECT_EQ(ctx.globalDaily[5], 0.0);
}

TEST(ReadRequest, ShadowLossGivesFactorsAndAbsentMonthsHaveNoLoss) {
    SimulationContext ctx = test::DefaultConstants();
    RequestFields req;
    req.shadowLoss = "10,20,,5";
    ASSERT_TRUE(Read(req, ctx).ok());
    EXPECT_DOUBLE_EQ(ctx.shadowFactor[0], 0.9);
    EXPECT_DOUBLE_EQ(ctx.shadowFactor[1], 0.8);
    EXPECT_EQ(ctx.shadowFactor[2], 1.0);
    EXPECT_DOUBLE_EQ(ctx.shadowFactor[3], 0.95);
    for (int m = 4; m < 12; ++m) EXPECT_EQ(ctx.shadowFactor[m], 1.0);
}

TEST(ReadRequest, InsolationIsDividedByTheConstantsDivisors) {
    SimulationContext ctx = test::DefaultConstants();
    ctx.globalDivisor = 2;
    ctx.diffuseDivisor = 4;
    ASSERT_TRUE(Read(RequestFields{}, ctx).ok());
    EXPECT_EQ(ctx.globalDaily[0], Narrow(2.43) / 2);
    EXPECT_EQ(ctx.diffuseDaily[0], Narrow(0.95) / 4);
}

}  // namespace
}  // namespace ys::gencalc
