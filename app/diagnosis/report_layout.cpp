#include "app/diagnosis/report_layout.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "app/diagnosis/verdict.h"
#include "app/local_time.h"
#include "platform/codepage.h"

namespace ys {
namespace {

// The virtual size of the comparison chart with its totals column.
constexpr double kChartWidth = 678.0;
constexpr double kChartHeight = 285.0;
// The chart starts at 0.62 H and must end above the verdict lines at 0.87 H: a scale of
// 0.4 H / 285 would take it to 1.02 H, past the page's edge, on every landscape page.
constexpr double kChartTop = 0.62;
constexpr double kChartBottom = 0.86;

int Trunc(double v) {
    return static_cast<int>(v);
}

std::string Utf8(const std::string& cp932) {
    return codepage::Cp932ToUtf8Lossy(cp932);
}

// Pads on the left to `width` columns of the fixed-pitch font, where a CP932 byte is one column.
std::string PadLeft(std::string_view utf8, int width) {
    auto cp = codepage::Utf8ToCp932(utf8);
    const int columns = cp ? static_cast<int>(cp->size()) : static_cast<int>(utf8.size());
    return std::string(std::max(width - columns, 0), ' ') + std::string(utf8);
}

// printf's "%*d" and "%*.*f", independent of the process locale.
std::string Int(long long v, int width, bool zeroPad = false) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    std::string s(buf, end);
    if (!zeroPad) return PadLeft(s, width);
    const bool negative = v < 0;
    std::string digits = negative ? s.substr(1) : s;
    const int pad = width - static_cast<int>(s.size());
    if (pad > 0) digits.insert(0, static_cast<std::size_t>(pad), '0');
    return negative ? "-" + digits : digits;
}

std::string Fixed(double v, int width, int precision) {
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
    if (ec != std::errc()) return PadLeft("*", width);
    return PadLeft(std::string_view(buf, static_cast<std::size_t>(end - buf)), width);
}

class Builder {
public:
    explicit Builder(ReportLayout& layout) : l_(layout) {}
    void Text(int x, int y, int size, std::string text) {
        l_.texts.push_back({x, y, size, Trunc(l_.m * size), std::move(text)});
    }

private:
    ReportLayout& l_;
};

}  // namespace

ReportLayout LayoutDiagnosisReport(int width, int height, const UserData& data, Verdict verdict) {
    ReportLayout l;
    const double W = width;
    const double H = height;
    l.width = width;
    l.height = height;
    l.left = Trunc(0.1 * W);
    l.indent = Trunc(0.02 * W);
    l.step = Trunc(0.02 * H);
    l.m = std::min(0.8 * W / kChartWidth, (kChartBottom - kChartTop) * H / kChartHeight);
    const CUserInfo& u = data.userInfo;
    const int left = l.left;
    const int inner = l.left + l.indent;
    const int step = l.step;
    Builder b(l);

    // 1. The chart and its frame.
    l.frameLeft = left;
    l.frameTop = Trunc(kChartTop * H);
    l.frameRight = Trunc(0.1 * W + kChartWidth * l.m);
    l.frameBottom = Trunc(kChartTop * H + kChartHeight * l.m);
    l.chartOriginX = left;
    l.chartOriginY = l.frameTop;

    // 2. Captions of the chart.
    const int captionY = Trunc(0.59 * H);
    b.Text(left, captionY, 15, "発電シミュレーション値と実発電量の比較");
    b.Text(Trunc(0.65 * W), captionY, 12, "シミュレーション値（左側グラフ）");
    b.Text(Trunc(0.65 * W), Trunc(0.605 * H), 12, "　　　　発電実績値（右側グラフ）");

    // 3., 4. Title and the household.
    b.Text(left, Trunc(0.07 * H), 16, "ヘリオミル結果");
    const int userTop = Trunc(0.1 * H);
    b.Text(left, userTop, 15, "ユーザー情報");
    const std::string userLines[] = {
        "お名前　　：　" + Utf8(u.name) + " 様",
        "ご住所　　：　" + Utf8(u.address),
        "お電話番号：　" + Utf8(u.phone),
        "Ｅメール　：　" + Utf8(u.email),
        "販社名称　：　" + Utf8(u.dealerName),
        "販社TEL 　：　" + Utf8(u.dealerTel),
        "設置年月　：　" + Int(u.installYear, 4, true) + "年" + Int(u.installMonth, 2) + "月",
        "設置容量　：　" + Fixed(u.capacityKw, 2, 2) + " (kW)",
        "最寄地域　：　" + Utf8(u.regionName),
    };
    int y = Trunc(userTop + 1.5 * step);
    int y9 = y;
    for (const std::string& line : userLines) {
        b.Text(inner, y, 14, line);
        y9 = y;
        y += step;
    }

    // 5. The installation.
    const int installTop = y9 + 2 * step;
    b.Text(left, installTop, 15, "太陽電池設置情報");
    y = Trunc(installTop + 1.5 * step);
    int sectionEnd = 0;
    if (u.detailed != 0) {
        std::string pc = "パワーコンディショナ ：　" + Utf8(u.pcProduct);
        if (!u.pcModel.empty()) pc += "(" + Utf8(u.pcModel) + ")";
        b.Text(inner, y, 12, pc);
        int rowY = Trunc(y + 1.5 * step);
        b.Text(inner, rowY, 12,
               "          　  方位角  傾斜角  昇圧ユニット  電池容量  (" + Int(u.moduleWatt[0], 3) +
                   "W) (" + Int(u.moduleWatt[1], 3) + "W) (" + Int(u.moduleWatt[2], 3) + "W)");
        for (int i = 0; i < kSurfaceCount; ++i) {
            if (!(u.surfaceKw[i] > 0)) continue;  // not installed: no row, no space
            rowY += step;
            b.Text(inner, rowY, 12,
                   "設置面" + Int(i + 1, 0) + " ： " + Fixed(u.azimuth[i], 8, 1) + "      " +
                       Int(u.tilt[i], 2) + "  " +
                       PadLeft(u.booster[i] == 1 ? "使用する" : "使用しない", 12) + " " +
                       Fixed(u.surfaceKw[i], 7, 2) + "kW    " + Int(u.ModuleCount(0, i), 3) +
                       "枚  " + Int(u.ModuleCount(1, i), 3) + "枚  " + Int(u.ModuleCount(2, i), 3) +
                       "枚");
        }
        sectionEnd = rowY + 2 * step;
    } else {
        b.Text(inner, y, 12, "詳細条件指定なし");
        sectionEnd = y + 2 * step;
    }

    // 6. Shade.
    b.Text(left, sectionEnd, 15, "影の影響");
    b.Text(inner, Trunc(sectionEnd + 1.5 * step), 12, "　" + Utf8(u.shadeText));

    // 7. The verdict without the dealer line; nothing before a diagnosis.
    if (u.detailed != 0 && verdict != Verdict::kNone) {
        y = Trunc(0.87 * H);
        for (std::string_view line : VerdictTextLines(u, verdict)) {
            b.Text(left, y, 15, std::string(line));
            y += step;
        }
    }
    return l;
}

std::string DatedPdfName(std::string_view document, std::int64_t today) {
    const LocalDateTime d = ToLocal(today);
    char date[16];
    std::snprintf(date, sizeof date, "_%04d%02d%02d.pdf", d.year, d.month, d.day);
    return std::string(document) + date;
}

}  // namespace ys
