#include "tests/app/diagnosis/sample_user.h"

#include "app/local_time.h"
#include "platform/codepage.h"

namespace ys::test {
namespace {

std::string Cp(const char* utf8) {
    return *codepage::Utf8ToCp932(utf8);
}

}  // namespace

void SetMonths(UserData& data, int year, int month, std::initializer_list<int> generation) {
    int i = 0;
    for (int g : generation) {
        CMonthResult& m = data.months[i];
        m = CMonthResult{};
        m.date = MakeLocalTime(year, month + i, 1);
        m.generation = static_cast<std::int16_t>(static_cast<std::uint16_t>(g));
        ++i;
    }
    data.monthCount = i;
}

void MakeSampleUser(UserData& data, double ratio) {
    CUserInfo& u = data.userInfo;
    u.name = Cp("山田 太郎");
    u.address = Cp("東京都千代田区千代田１－１");
    u.phone = "03-1234-5678";
    u.email = "taro.yamada@example.jp";
    u.regionNo = 47;
    u.regionName = Cp("東京");
    u.dealerName = Cp("サンプル電設");
    u.dealerTel = "03-9876-5432";
    u.installYear = 2024;
    u.installMonth = 9;
    u.capacityKw = 5.76;
    u.detailed = 1;
    u.pcProduct = Cp("ノルベイン パワコン 5.5kW");
    u.pcModel = "NPC-55A";
    u.azimuth = {0.0, -90.0, 90.0, 45.5};
    u.tilt = {30, 25, 25, 20};
    u.booster = {0, 1, 0, 1};
    u.moduleWatt = {180, 120, 95};
    u.surfaceKw = {2.16, 1.44, 1.32, 0.84};
    // column 1 on the four surfaces, then column 2, then column 3
    u.moduleCount = {12, 8, 4, 0, 0, 0, 5, 4, 0, 0, 0, 4};
    u.shadeLevel = 1;
    u.shadeText = Cp("影の影響はほとんどない");
    data.simMonthly = {410, 460, 560, 600, 640, 520, 560, 620, 480, 450, 380, 360};
    data.simDone = 1;
    data.monthCount = 15;
    for (int i = 0; i < 15; ++i) {
        const int month = (9 + i) % 12;  // October 2024 first, January = 0
        CMonthResult& m = data.months[i];
        m = CMonthResult{};
        m.date = MakeLocalTime(2024, 10 + i, 1);
        m.generation = static_cast<std::int16_t>(data.simMonthly[month] * ratio + 0.5);
    }
}

}  // namespace ys::test
