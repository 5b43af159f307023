#include "app/settings/user_page_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "app/app_data.h"
#include "app/settings/csv_field.h"
#include "app/settings/installation_tables.h"
#include "platform/paths.h"

namespace ys {
namespace {

constexpr double kDigitGuard = 0.0001;

bool Selected(int index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

}  // namespace

DigitValue ParseCapacityDigit(std::string_view text) {
    std::string_view t = text;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    long long v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ptr != t.data() + t.size()) return {DigitCheck::kNotInteger, 0};
    if (r.ec != std::errc() || v < 0 || v > 9) return {DigitCheck::kOutOfRange, 0};
    return {DigitCheck::kOk, static_cast<std::int32_t>(v)};
}

std::string FormatKw(double kw) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, kw, std::chars_format::fixed, 2);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0.00");
}

std::array<std::int32_t, 4> CapacityDigitsOf(double kw) {
    double scaled = std::trunc((kw + kDigitGuard) * 100.0);
    if (!std::isfinite(scaled)) scaled = 0.0;
    // Beyond 99.99 kW the tens "digit" carries the excess and the save refuses it.
    const auto c = static_cast<std::int64_t>(std::clamp(scaled, -1e12, 1e12));
    return {static_cast<std::int32_t>(c / 1000), static_cast<std::int32_t>((c % 1000) / 100),
            static_cast<std::int32_t>((c % 100) / 10), static_cast<std::int32_t>(c % 10)};
}

double CapacityFromDigits(const std::array<std::int32_t, 4>& d) {
    return d[0] * 10 + d[1] + d[2] * 0.1 + d[3] * 0.01;
}

std::int32_t ModuleNumber(std::string_view text) {
    return LeadingInt(text);
}

int MonitorPictureIndex(int selected) {
    return (selected == 0 || selected == 1) ? selected : 2;
}

UserPageModel::UserPageModel(ChoiceCatalogue catalogue, int currentYear)
    : catalogue_(std::move(catalogue)), years_(YearListValues(currentYear)) {
    products_ = DistinctProducts(catalogue_.powerConditioners);
    // A list that has entries starts on its first one, as a drop-down list does when filled.
    state_.yearIndex = years_.empty() ? -1 : 0;
    state_.monthIndex = 0;
    state_.productIndex = products_.empty() ? -1 : 0;
    state_.monitorIndex = catalogue_.monitorUnits.empty() ? -1 : 0;
    state_.shadeIndex = catalogue_.shades.empty() ? -1 : 0;
    state_.azimuthIndex.fill(0);
    state_.tiltIndex.fill(0);
    state_.boosterIndex.fill(0);
    RefillModelList();
}

ChoiceCatalogue UserPageModel::LoadChoiceLists(const std::string& programDir) {
    return LoadChoiceCatalogue(paths::Join(programDir, "admin.ini"),
                               paths::Join(programDir, "gencalc.ini"));
}

void UserPageModel::RefillModelList() {
    const std::string product =
        Selected(state_.productIndex, products_.size()) ? products_[state_.productIndex] : "";
    models_ = ModelsOfProduct(catalogue_.powerConditioners, product);
    state_.modelIndex = models_.empty() ? -1 : 0;
}

CapacityTexts UserPageModel::RecomputeCapacity() {
    CapacityTexts texts;
    double sum = 0.0;
    for (int s = 0; s < kSurfaceCount; ++s) {
        std::int64_t watts = 0;
        for (int t = 0; t < kModuleColumnCount; ++t) {
            watts += std::int64_t{state_.moduleCount[t][s]} * state_.moduleWatt[t];
        }
        state_.surfaceKw[s] = static_cast<double>(watts) / 1000.0;
        texts.surface[s] = FormatKw(state_.surfaceKw[s]);
        sum += state_.surfaceKw[s];
    }
    texts.total = FormatKw(sum);
    // The total is what the box shows: two decimals.
    state_.totalKw = 0.0;
    std::from_chars(texts.total.data(), texts.total.data() + texts.total.size(), state_.totalKw);
    if (state_.detailMode == static_cast<int>(DetailMode::kEntered)) {
        state_.capacityDigits = CapacityDigitsOf(state_.totalKw);
        texts.digitsSet = true;
    }
    return texts;
}

DetailModeEnabling UserPageModel::Enabling() const {
    const bool d = state_.detailMode == static_cast<int>(DetailMode::kEntered);
    DetailModeEnabling e;
    e.productList = d;
    // An empty model list stays disabled whatever the mode.
    e.modelList = d && modelListEnabled();
    e.moduleWatt = d;
    e.surfaceLists = d;
    e.moduleCounts = d;
    e.surfaceKw = d;
    e.capacityDigitsReadOnly = d;
    e.booster = {false, d, d, d};
    return e;
}

void UserPageModel::ShowRecord(const CUserInfo& info) {
    UserPageState& st = state_;
    st.name = info.name;
    st.address = info.address;
    st.phone = info.phone;
    st.email = info.email;
    st.regionNo = info.regionNo;
    st.regionName = info.regionName;
    st.dealerName = info.dealerName;
    st.dealerTel = info.dealerTel;

    // A value outside a list leaves the list without a selection, so that saving keeps it.
    st.yearIndex = -1;
    for (std::size_t i = 0; i < years_.size(); ++i) {
        if (years_[i] == info.installYear) {
            st.yearIndex = static_cast<int>(i);
            break;
        }
    }
    st.monthIndex =
        (info.installMonth >= 1 && info.installMonth <= 12) ? info.installMonth - 1 : -1;

    st.capacityDigits = CapacityDigitsOf(info.capacityKw);
    st.detailMode =
        static_cast<int>(info.detailed == 1 ? DetailMode::kEntered : DetailMode::kEstimated);

    std::string product, model;
    for (const auto& row : catalogue_.powerConditioners) {
        if (row.code == info.pcCode) {
            product = row.product;
            model = row.model;
            break;
        }
    }
    const int productAt = [&] {
        for (std::size_t i = 0; i < products_.size(); ++i) {
            if (products_[i] == product) return static_cast<int>(i);
        }
        return products_.empty() ? -1 : 0;
    }();
    st.productIndex = productAt;
    RefillModelList();
    for (std::size_t i = 0; i < models_.size(); ++i) {
        if (models_[i] == model) {
            st.modelIndex = static_cast<int>(i);
            break;
        }
    }

    st.moduleWatt = info.moduleWatt;
    for (int t = 0; t < kModuleColumnCount; ++t) {
        for (int s = 0; s < kSurfaceCount; ++s) st.moduleCount[t][s] = info.ModuleCount(t, s);
    }

    for (int s = 0; s < kSurfaceCount; ++s) {
        st.azimuthIndex[s] = AzimuthIndexOf(info.azimuth[s]);
        st.tiltIndex[s] = (info.tilt[s] >= 0 && info.tilt[s] < kTiltCount) ? info.tilt[s] : -1;
        st.boosterIndex[s] = info.booster[s] == 1 ? 1 : 0;
    }

    const auto& monitors = catalogue_.monitorUnits;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (monitors[i].model == info.monitorModel) {
            st.monitorIndex = static_cast<int>(i);
            break;
        }
    }
    const auto& shades = catalogue_.shades;
    for (std::size_t i = 0; i < shades.size(); ++i) {
        if (shades[i].value == info.shadeLevel) {
            st.shadeIndex = static_cast<int>(i);
            break;
        }
    }
}

void UserPageModel::StoreRecord(CYieldscopeApp& app) const {
    const UserPageState& st = state_;
    CUserInfo& info = app.userInfo;
    info.name = st.name;
    info.address = st.address;
    info.phone = st.phone;
    info.email = st.email;
    info.regionNo = st.regionNo;
    info.regionName = st.regionName;
    info.dealerName = st.dealerName;
    info.dealerTel = st.dealerTel;

    bool dateChanged = false;
    if (Selected(st.yearIndex, years_.size()) && years_[st.yearIndex] != info.installYear) {
        info.installYear = years_[st.yearIndex];
        dateChanged = true;
    }
    if (Selected(st.monthIndex, 12) && st.monthIndex + 1 != info.installMonth) {
        info.installMonth = st.monthIndex + 1;
        dateChanged = true;
    }
    if (dateChanged) app.RebuildMonthTable();

    info.capacityKw = CapacityFromDigits(st.capacityDigits);
    info.detailed = st.detailMode == static_cast<int>(DetailMode::kEntered) ? 1 : 0;

    info.pcProduct = Selected(st.productIndex, products_.size()) ? products_[st.productIndex] : "";
    info.pcModel = Selected(st.modelIndex, models_.size()) ? models_[st.modelIndex] : "";
    for (const auto& row : catalogue_.powerConditioners) {
        if (row.product == info.pcProduct && row.model == info.pcModel) {
            info.pcCode = row.code;
            info.pcEfficiency = row.efficiencyPermille / 1000.0;
            break;
        }
    }

    info.moduleWatt = st.moduleWatt;
    for (int s = 0; s < kSurfaceCount; ++s) {
        if (Selected(st.azimuthIndex[s], kAzimuthTable.size())) {
            info.azimuth[s] = kAzimuthTable[st.azimuthIndex[s]].degrees;
        }
        if (Selected(st.tiltIndex[s], kTiltCount)) info.tilt[s] = st.tiltIndex[s];
        if (st.boosterIndex[s] >= 0) info.booster[s] = st.boosterIndex[s] > 0 ? 1 : 0;
        for (int t = 0; t < kModuleColumnCount; ++t) info.ModuleCount(t, s) = st.moduleCount[t][s];
        info.surfaceKw[s] = st.surfaceKw[s];
    }

    const auto& monitors = catalogue_.monitorUnits;
    if (Selected(st.monitorIndex, monitors.size())) {
        info.monitorModel = monitors[st.monitorIndex].model;
        info.monitorImport = monitors[st.monitorIndex].importFlag;
    }
    const auto& shades = catalogue_.shades;
    if (Selected(st.shadeIndex, shades.size())) {
        info.shadeLevel = shades[st.shadeIndex].value;
        info.shadeText = shades[st.shadeIndex].label;
        info.shadeLoss = shades[st.shadeIndex].lossList;
    }
}

bool UserPageModel::RequiredFieldsMissing(const CUserInfo& info) {
    return info.name.empty() || info.address.empty() || info.phone.empty() ||
           info.regionName.empty() || info.dealerName.empty() || info.dealerTel.empty() ||
           info.capacityKw == 0.0;
}

bool UserPageModel::CapacityNeedsQuestion(const CUserInfo& info) {
    return info.capacityKw >= 10.0;
}

int UserPageModel::LeavePage(CYieldscopeApp& app, int exitFlag, UserPagePrompts& prompts) const {
    StoreRecord(app);
    if (exitFlag != 1 && RequiredFieldsMissing(app.userInfo)) {
        prompts.RequiredFieldsMissing();
        return 0;
    }
    if (CapacityNeedsQuestion(app.userInfo) && !prompts.ConfirmLargeCapacity()) return 0;

    prompts.SimulationStarting();
    SimulationResult sim = RunSimulation(app, [&prompts] { prompts.WhileEngineRuns(); });
    prompts.SimulationEnded();
    if (!sim.ok()) prompts.SimulationProblem(sim);
    // The record is saved whatever became of the simulation: the user's entries are kept.
    FileResult saved = SaveUserData(app, std::string());
    if (!saved.ok()) prompts.SaveFailed(saved);
    return 1;
}

}  // namespace ys
