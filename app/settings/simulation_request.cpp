#include "app/settings/simulation_request.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "app/app_data.h"
#include "app/user_data_file.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace ys {
namespace {

constexpr std::string_view kEol = "\r\n";

// "%.Nf" in the C locale, whatever the process locale is.
std::string Fixed(double v, int decimals) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return "0";
    return std::string(buf, r.ptr);
}

std::string LineValue(int index, char letter, double azimuth, int tilt, double watts, int booster) {
    return std::to_string(index) + "=0," + letter + "," + Fixed(azimuth, 1) + "," +
           std::to_string(tilt) + "," + Fixed(watts, 0) + "," + std::to_string(booster);
}

std::string TrimmedEngineText(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

constexpr std::string_view kResultsKept = "発電シミュレーションの結果は更新されていません。";

constexpr std::string_view kLineBreaks{"\r\n\0", 3};
constexpr std::string_view kLineBreaksAndComma{"\r\n\0,", 4};

bool Holds(std::string_view text, std::string_view chars) {
    return text.find_first_of(chars) != std::string_view::npos;
}

}  // namespace

std::string UnsafeRequestText(const CUserInfo& info, const RegionFields& row) {
    // The code shares its line with the efficiency; the shadow loss is itself a comma list.
    if (info.detailed == 1 && Holds(info.pcCode, kLineBreaksAndComma)) {
        return "パワーコンディショナの識別コード";
    }
    if (Holds(info.shadeLoss, kLineBreaks)) return "影の影響の損失率";
    for (const std::string& field : row) {
        if (Holds(field, kLineBreaksAndComma)) return "地域データ";
    }
    return {};
}

bool SimulationPreconditionMet(const CUserInfo& info) {
    return info.regionNo != 0 && info.capacityKw != 0.0;
}

std::string BuildSimulationRequest(const CUserInfo& info, const RegionFields& row) {
    std::string out;
    auto line = [&out](std::string_view text) {
        out += text;
        out += kEol;
    };
    line("[SYSTEM]");
    line("PV_SYSTEM=KESTREL");
    line("PV_TOTAL_KW=" + Fixed(info.capacityKw, 3));
    line("[PC]");
    line("NUM=1");
    const bool detailed = info.detailed == 1;
    if (detailed) {
        line("0=" + info.pcCode + "," + Fixed(info.pcEfficiency, 3));
    } else {
        line("0=" + std::string(kDefaultPcModel) + "," + Fixed(kDefaultPcEfficiency, 3));
    }
    line("[LINES]");
    if (detailed) {
        int n = 0;
        for (double kw : info.surfaceKw) n += kw > 0.001 ? 1 : 0;
        line("NUM=" + std::to_string(n));
        int i = 0;
        for (int s = 0; s < kSurfaceCount; ++s) {
            if (!(info.surfaceKw[s] > 0.001)) continue;
            line(LineValue(i, static_cast<char>('A' + i), info.azimuth[s], info.tilt[s],
                           info.surfaceKw[s] * 1000.0, info.booster[s]));
            ++i;
        }
    } else {
        line("NUM=1");
        line(LineValue(0, 'A', 0.0, 30, info.capacityKw * 1000.0, 0));
    }
    line("[LOCATION]");
    line("LATITUDE=" + row[4] + "," + row[5]);
    line("LONGITUDE=" + row[6] + "," + row[7]);
    line("SHADOW_LOSS=" + info.shadeLoss);
    line("[MONTHLY_AREA_DATA]");
    for (int m = 1; m <= 12; ++m) {
        line(std::to_string(m) + "M=" + row[7 + m] + "," + row[19 + m] + "," + row[31 + m]);
    }
    return out;
}

EngineCommand MakeEngineCommand(const std::string& programDir, const std::string& requestPath,
                                const std::string& resultPath) {
    return {paths::Join(programDir, std::string(kEngineProgram)),
            {requestPath, resultPath, std::string(kEngineToken)}};
}

std::array<std::int32_t, 12> ReadSimulationResult(const std::string& resultPath) {
    std::array<std::int32_t, 12> months{};
    const profile::Document doc = profile::Document::Load(resultPath);
    for (int m = 1; m <= 12; ++m) {
        auto v = doc.Find("MONTHLY_RESULT", std::to_string(m) + "M");
        months[m - 1] = v ? profile::ParseProfileInt(*v) : 0;
    }
    return months;
}

SimulationResult RunSimulation(CYieldscopeApp& app, const std::function<void()>& whileWaiting) {
    SimulationResult r;
    const CUserInfo& info = app.userInfo;
    if (!SimulationPreconditionMet(info)) return r;

    const std::string tablePath = paths::Join(app.programDir, std::string(kRegionTableFile));
    auto row = ReadRegionFields(tablePath, info.regionNo);
    if (!row) {
        r.outcome = SimulationOutcome::kRegionTableUnreadable;
        r.path = tablePath;
        r.detail = row.error();
        return r;
    }

    const std::string requestPath = paths::Join(app.dataDir, std::string(kRequestFile));
    const std::string resultPath = paths::Join(app.dataDir, std::string(kResultFile));
    // Refused rather than escaped: the engine's files have no escape, and an ordinary request
    // must keep its bytes.
    if (std::string unsafe = UnsafeRequestText(info, *row); !unsafe.empty()) {
        r.outcome = SimulationOutcome::kUnsafeText;
        r.path = requestPath;
        r.detail = std::move(unsafe);
        return r;
    }
    files::WriteOutcome w =
        files::WriteFileAtomically(requestPath, BuildSimulationRequest(info, *row), 0600);
    if (!w.ok()) {
        r.outcome = SimulationOutcome::kRequestUnwritable;
        r.path = requestPath;
        r.detail = w.message;
        return r;
    }
    // The engine deletes and rewrites its result file; removing it here as well makes sure
    // that a file left by an earlier run is never read as this run's.
    if (::unlink(resultPath.c_str()) != 0 && errno != ENOENT) {
        r.outcome = SimulationOutcome::kResultNotRemovable;
        r.path = resultPath;
        r.detail = std::strerror(errno);
        return r;
    }

    const EngineCommand command = MakeEngineCommand(app.programDir, requestPath, resultPath);
    r.engine = RunEngineAndWait(command, whileWaiting);
    if (!r.engine.started) {
        r.outcome = SimulationOutcome::kEngineNotStarted;
        r.path = command.program;
        r.detail = r.engine.startError;
        return r;
    }
    if (r.engine.exitCode != 0) {
        r.outcome = SimulationOutcome::kEngineFailed;
        r.path = command.program;
        return r;
    }
    if (!files::FileExists(resultPath)) {
        r.outcome = SimulationOutcome::kNoResult;
        r.path = resultPath;
        return r;
    }
    const std::array<std::int32_t, 12> months = ReadSimulationResult(resultPath);
    // The loader refuses a file with such values; they are never stored.
    for (std::int32_t v : months) {
        if (v < -kMaxSimulatedMonth || v > kMaxSimulatedMonth) {
            r.outcome = SimulationOutcome::kResultOutOfRange;
            r.path = resultPath;
            return r;
        }
    }
    app.simMonthly = months;
    app.simDone = 1;
    r.outcome = SimulationOutcome::kDone;
    return r;
}

std::string SimulationResult::UserTitle() const {
    switch (outcome) {
        case SimulationOutcome::kDone:
        case SimulationOutcome::kSkipped:
            return {};
        case SimulationOutcome::kEngineFailed:
        case SimulationOutcome::kNoResult:
        case SimulationOutcome::kResultOutOfRange:
            return "gencalc : エラー";
        default:
            return "エラー";
    }
}

std::string SimulationResult::UserMessage() const {
    const std::string engineText = TrimmedEngineText(engine.stderrText);
    switch (outcome) {
        case SimulationOutcome::kDone:
        case SimulationOutcome::kSkipped:
            return {};
        case SimulationOutcome::kRegionTableUnreadable:
            return FormatMessage("地域データファイルが開けません。\n%1\n(%2)\n%3",
                                 {path, detail, kResultsKept});
        case SimulationOutcome::kRequestUnwritable:
            return FormatMessage("シミュレーション要求ファイルを書き込めません。\n%1\n(%2)\n%3",
                                 {path, detail, kResultsKept});
        case SimulationOutcome::kResultNotRemovable:
            return FormatMessage(
                "以前のシミュレーション結果ファイルを削除できません。\n%1\n(%2)\n%3",
                {path, detail, kResultsKept});
        case SimulationOutcome::kUnsafeText:
            return FormatMessage(
                "%1に使用できない文字（改行など）が含まれているため、発電シミュレーションを"
                "実行できません。\n%2",
                {detail, kResultsKept});
        case SimulationOutcome::kEngineNotStarted:
            return FormatMessage("発電量計算プログラムを起動できません。\n%1\n(%2)\n%3",
                                 {path, detail, kResultsKept});
        case SimulationOutcome::kEngineFailed:
            if (!engineText.empty()) return engineText + "\n\n" + std::string(kResultsKept);
            return FormatMessage("発電量計算プログラムが異常終了しました（終了コード %1）。\n%2",
                                 {std::to_string(engine.exitCode), kResultsKept});
        case SimulationOutcome::kResultOutOfRange:
            return FormatMessage("発電量計算の結果が範囲外の値です。\n%1\n%2",
                                 {path, kResultsKept});
        case SimulationOutcome::kNoResult:
            if (!engineText.empty()) return engineText + "\n\n" + std::string(kResultsKept);
            return FormatMessage("発電量計算の結果ファイルが作成されませんでした。\n%1\n%2",
                                 {path, kResultsKept});
    }
    return {};
}

}  // namespace ys
