#include "tools/cli/user_data_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/local_time.h"
#include "app/user_data_file.h"
#include "platform/codepage.h"

namespace ys::cli {
namespace {

UserData Sample() {
    UserData d;
    d.userInfo.name = *codepage::Utf8ToCp932("山田 太郎");
    d.userInfo.address = "\x87\x54\xFA\x4A";  // NEC and IBM forms of "Ⅰ": do not survive UTF-8
    d.userInfo.capacityKw = 12.339999999999;
    d.userInfo.pcEfficiency = 0.945;
    d.userInfo.azimuth = {-22.5, 0.1, 1e-300, -0.0};
    d.simDone = 1;
    d.simMonthly = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -12};
    d.errorCount = 2;
    d.errors[0] = CErrorData();
    d.errors[0].kind = 0x82;
    d.errors[0].code = 5;
    d.errors[0].time = MakeLocalTime(2011, 5, 3, 14, 5);
    d.errors[49].code = 9;  // beyond the count
    d.dayCount = 1;
    d.days[399].generation = -1;
    d.days[0].flags = {1, 2, 3, 4, 5, 0};
    d.monthCount = 60;
    d.months[0].generation = static_cast<std::int16_t>(40000);
    d.months[59].extra = {-32768, 32767, 0, 1};
    return d;
}

TEST(UserDataJson, DumpThenBuildGivesTheSameBytes) {
    UserData d = Sample();
    std::string json = UserDataToJson(d, 7);
    auto parsed = UserDataFromJson(json);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->marker, 7);
    EXPECT_EQ(SerializeUserData(parsed->data), SerializeUserData(d));
}

TEST(UserDataJson, TextsTimesAndUnsignedGenerationsAreReadable) {
    std::string json = UserDataToJson(Sample(), 1);
    EXPECT_NE(json.find("\"name\": \"山田 太郎\""), std::string::npos);
    EXPECT_NE(json.find("\"cp932_hex\": \"8754fa4a\""), std::string::npos);
    EXPECT_NE(json.find("\"local\": \"2011-05-03 14:05:00\""), std::string::npos);
    EXPECT_NE(json.find("\"generation\": 40000"), std::string::npos);
    EXPECT_NE(json.find("\"generation\": 65535"), std::string::npos);
}

TEST(UserDataJson, ANumberThatIsNoNumberIsRefusedByItsKey) {
    UserData d = Sample();
    d.userInfo.pcEfficiency = std::numeric_limits<double>::quiet_NaN();
    const std::string json = UserDataToJson(d, 1);
    EXPECT_NE(json.find("float64_hex"), std::string::npos);
    auto parsed = UserDataFromJson(json);
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.error().find("userInfo.pcEfficiency"), std::string::npos) << parsed.error();
}

TEST(UserDataJson, AShortScriptFileTakesDefaultsAndLocalTimes) {
    auto parsed = UserDataFromJson(R"({
        "userInfo": {"name": "佐藤", "installYear": 2024, "installMonth": 4, "capacityKw": 4.5},
        "errorCount": 1,
        "errors": [{"kind": 1, "code": 1, "time": {"local": "2024-05-03 14:05:00"}}],
        "months": [{"date": {"local": "2024-05-01"}, "generation": 412}]
    })");
    ASSERT_TRUE(parsed) << parsed.error();
    const UserData& d = parsed->data;
    EXPECT_EQ(d.userInfo.name, *codepage::Utf8ToCp932("佐藤"));
    EXPECT_EQ(d.userInfo.detailed, 1);
    EXPECT_EQ(d.userInfo.azimuth[1], -90.0);
    EXPECT_EQ(d.errors[0].time, MakeLocalTime(2024, 5, 3, 14, 5));
    EXPECT_EQ(d.months[0].date, MakeLocalTime(2024, 5, 1));
    EXPECT_EQ(d.months[0].generation, 412);
    EXPECT_EQ(parsed->marker, 1);
}

TEST(UserDataJson, MistakesAreNamed) {
    struct Case {
        const char* json;
        const char* expect;
    };
    const Case cases[] = {
        {"{", "not valid JSON"},
        {R"({"userInfo": {"nmae": "x"}})", "unknown key \"nmae\""},
        {R"({"dayCount": 401})", "dayCount: 401 is outside 0 to 400"},
        {R"({"errorCount": -1})", "errorCount"},
        {R"({"simMonthly": [1,2,3,4,5,6,7,8,9,10,11,12,13]})", "at most 12"},
        {R"({"days": [{"generation": 70000}]})", "days[0].generation"},
        {R"({"userInfo": {"name": "😀"}})", "userInfo.name"},
        {R"({"userInfo": {"name": {"cp932_hex": "8"}}})", "odd number"},
        {R"({"errors": [{"time": {"local": "May 3"}}]})", "errors[0].time.local"},
        {R"({"userInfo": {"tilt": ["30"]}})", "userInfo.tilt[0]: an integer is expected"},
        {R"([])", "an object is expected"},
    };
    for (const Case& c : cases) {
        auto r = UserDataFromJson(c.json);
        ASSERT_FALSE(r) << c.json;
        EXPECT_NE(r.error().find(c.expect), std::string::npos) << c.json << " -> " << r.error();
    }
}

}  // namespace
}  // namespace ys::cli
