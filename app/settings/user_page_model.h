// The user and installation page without its widgets: the page state, its lists, the capacity
// arithmetic, the enabling rules, showing the record and storing it, and the checks and steps
// of leaving the page. The widget class copies values between its controls and this model and
// shows the messages. Texts are CP932.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/records.h"
#include "app/settings/choice_catalogue.h"
#include "app/settings/simulation_request.h"
#include "app/user_data_file.h"

namespace ys {

class CYieldscopeApp;

enum class DetailMode : int { kEntered = 0, kEstimated = 1 };

struct UserPageState {
    std::string name, address, phone, email;
    std::int32_t regionNo = 0;
    std::string regionName;
    std::string dealerName, dealerTel;
    int yearIndex = -1;
    int monthIndex = -1;
    std::array<std::int32_t, 4> capacityDigits{};  // tens, units, tenths, hundredths of a kW
    int detailMode = 0;                            // index of the radio button (DetailMode)
    int productIndex = -1, modelIndex = -1, monitorIndex = -1, shadeIndex = -1;
    std::array<std::int32_t, 3> moduleWatt{};
    std::array<std::array<std::int32_t, 4>, 3> moduleCount{};  // [type][surface]
    std::array<double, 4> surfaceKw{};
    double totalKw = 0.0;
    std::array<int, 4> azimuthIndex{-1, -1, -1, -1};
    std::array<int, 4> tiltIndex{-1, -1, -1, -1};
    std::array<int, 4> boosterIndex{-1, -1, -1, -1};
};

// What RecomputeCapacity shows.
struct CapacityTexts {
    std::array<std::string, 4> surface;  // "%.2f" kW of each surface
    std::string total;                   // "%.2f" kW of all surfaces
    bool digitsSet = false;              // the capacity digits follow the surfaces
};

// Which controls take input in the current detail mode.
struct DetailModeEnabling {
    bool productList = false;
    bool modelList = false;
    bool moduleWatt = false;
    bool surfaceLists = false;  // azimuth and tilt lists
    bool moduleCounts = false;
    bool surfaceKw = false;  // the kW boxes and the total box
    bool capacityDigitsReadOnly = false;
    std::array<bool, 4> booster{};
};

// A capacity digit box: its digit, or why it was refused.
enum class DigitCheck { kOk, kNotInteger, kOutOfRange };
struct DigitValue {
    DigitCheck check = DigitCheck::kOk;
    std::int32_t value = 0;
};
DigitValue ParseCapacityDigit(std::string_view text);

// Messages of the page (UTF-8).
inline constexpr std::string_view kMsgNotInteger = "整数を入力してください。";
inline constexpr std::string_view kMsgDigitRange = "%1 から %2 までの整数を入力してください。";
inline constexpr std::string_view kMsgRequired =
    "お客様情報は必須項目になります。\n全てご入力ください。";
inline constexpr std::string_view kMsgOver10Kw =
    "「設置容量」が10kWを超えています。\nこのまま設定しますか。";
inline constexpr std::string_view kMsgNoDetails =
    "太陽電池設置情報の詳細を入力されない場合、ヘリオミルを行うことはできません。\n\n"
    "「入力しない」を選択しますか？";

// "%.2f" of a capacity in kW, in the C locale.
std::string FormatKw(double kw);
// The four capacity digits of a capacity (a hundredth protected against 12.3399999).
std::array<std::int32_t, 4> CapacityDigitsOf(double kw);
// tens x 10 + units + tenths x 0.1 + hundredths x 0.01.
double CapacityFromDigits(const std::array<std::int32_t, 4>& digits);
// A module box's text as a number: its leading integer, 0 when it is not a number.
std::int32_t ModuleNumber(std::string_view text);
// Which monitor-unit picture shows for a selected index: 0, 1, or 2 for anything else.
int MonitorPictureIndex(int selected);

// Asked of the user while the page is left.
class UserPagePrompts {
public:
    virtual ~UserPagePrompts() = default;
    virtual void RequiredFieldsMissing() = 0;
    // True to keep a capacity of 10 kW or more.
    virtual bool ConfirmLargeCapacity() = 0;
    virtual void SimulationProblem(const SimulationResult& result) = 0;
    virtual void SaveFailed(const FileResult& result) = 0;
    // Around the simulation run, and about every 50 ms while the engine runs.
    virtual void SimulationStarting() {}
    virtual void WhileEngineRuns() {}
    virtual void SimulationEnded() {}
};

class UserPageModel {
public:
    UserPageModel(ChoiceCatalogue catalogue, int currentYear);

    // Reads admin.ini and the shade section of gencalc.ini from the program folder.
    static ChoiceCatalogue LoadChoiceLists(const std::string& programDir);

    const ChoiceCatalogue& catalogue() const { return catalogue_; }
    const std::vector<int>& years() const { return years_; }
    const std::vector<std::string>& products() const { return products_; }
    const std::vector<std::string>& models() const { return models_; }
    bool modelListEnabled() const { return !models_.empty(); }

    UserPageState& state() { return state_; }
    const UserPageState& state() const { return state_; }

    // The models of the selected product; the first one selected, none when there are none.
    void RefillModelList();
    // Surface and total capacity from the module counts; in detail mode also the digits.
    CapacityTexts RecomputeCapacity();
    DetailModeEnabling Enabling() const;

    // Leaving = 0: the record into the page state (lists and selections). A year, month,
    // azimuth or tilt outside its list leaves that list without a selection.
    void ShowRecord(const CUserInfo& info);
    // Leaving = 1, before the checks: the page state into the record; rebuilds the month table
    // when the installation year or month changed. Lists without a selection keep the record's
    // values (product and model excepted: they store an empty text).
    void StoreRecord(CYieldscopeApp& app) const;

    static bool RequiredFieldsMissing(const CUserInfo& info);
    static bool CapacityNeedsQuestion(const CUserInfo& info);

    // The whole of leaving the page after the controls were copied: store, check, simulate,
    // save. 0 refuses to leave.
    int LeavePage(CYieldscopeApp& app, int exitFlag, UserPagePrompts& prompts) const;

private:
    ChoiceCatalogue catalogue_;
    std::vector<int> years_;
    std::vector<std::string> products_;
    std::vector<std::string> models_;
    UserPageState state_;
};

}  // namespace ys
