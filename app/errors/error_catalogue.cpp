#include "app/errors/error_catalogue.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "app/local_time.h"

namespace ys {
namespace {

constexpr std::array kNamesE = {
    ErrorName{0, "停電"},
    ErrorName{1, "系統過電圧"},
    ErrorName{2, "系統不足電圧"},
    ErrorName{3, "系統周波数上昇"},
    ErrorName{4, "系統周波数低下"},
    ErrorName{5, "単独運転検出（受動）"},
    ErrorName{6, "単独運転検出（能動）"},
    ErrorName{7, "系統瞬時過電圧異常"},
    ErrorName{8, "電圧上昇抑制限界"},
    ErrorName{9, "過負荷"},
    ErrorName{10, "系統瞬時電圧低下"},
    ErrorName{12, "出力抑制限界"},
    ErrorName{30, "逆電力昇圧"},
};

constexpr std::array kNamesF = {
    ErrorName{0, "直流過電圧"},
    ErrorName{1, "直流過電流"},
    ErrorName{2, "直流地絡"},
    ErrorName{3, "制御異常"},
    ErrorName{4, "温度上昇異常"},
    ErrorName{5, "出力過電流"},
    ErrorName{6, "直流分検出"},
    ErrorName{7, "チョッパ異常"},
    ErrorName{8, "直流地絡検出異常"},
    ErrorName{10, "インバータ入出力特性異常"},
    ErrorName{11, "制御状態異常"},
    ErrorName{12, "ＲＯＭバージョン異常"},
    ErrorName{13, "制御電源異常"},
    ErrorName{14, "ＥＥＰＲＯＭ ＳＵＭ異常"},
    ErrorName{15, "ＥＥＰＲＯＭ異常"},
    ErrorName{16, "装置未校正"},
    ErrorName{17, "連係リレー動作異常"},
    ErrorName{18, "キー入力ハード異常"},
    ErrorName{19, "ＩＰＭサーミスタ異常"},
    ErrorName{20, "ハード異常"},
    ErrorName{21, "電解コンデンサ容量異常"},
    ErrorName{30, "ＩＰＭアラーム"},
    ErrorName{31, "ＩＰＭサーミスタ異常"},
    ErrorName{32, "ＤＣ電流センサ異常"},
    ErrorName{33, "ＡＣ電流センサ異常"},
    ErrorName{34, "補正値異常"},
    ErrorName{35, "電流不足電圧"},
    ErrorName{36, "端子台ヒューズ"},
    ErrorName{37, "昇圧瞬時不足電圧"},
};

const ErrorName* Find(std::span<const ErrorName> table, int code) {
    for (const ErrorName& e : table) {
        if (e.code == code) return &e;
    }
    return nullptr;
}

}  // namespace

const std::span<const ErrorName> errorNamesE = kNamesE;
const std::span<const ErrorName> errorNamesF = kNamesF;

std::string ErrorEventName(int kind, int code) {
    switch (kind) {
        case 1:
        case 2: {
            const ErrorName* e = Find(kind == 1 ? errorNamesE : errorNamesF, code);
            if (!e) return {};
            return std::string(kind == 1 ? "Ｅエラー（" : "Ｆエラー（") + std::string(e->name) +
                   "）";
        }
        case 0x81:
            return "異常";
        case 0x82:
            return "重故障";
        default:
            return {};
    }
}

std::string FormatErrorLine(const CErrorData& e) {
    const LocalDateTime t = ToLocal(e.time);
    char head[64];
    std::snprintf(head, sizeof head, "%04d/%02d/%02d %02d:%02d : %02Xh %2d : ", t.year, t.month,
                  t.day, t.hour, t.minute, static_cast<unsigned>(e.kind), static_cast<int>(e.code));
    return head + ErrorEventName(e.kind, e.code);
}

std::vector<std::string> ErrorLines(const UserData& data) {
    std::vector<std::string> lines;
    const int count = std::clamp(data.errorCount, 0, kMaxErrors);
    lines.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) lines.push_back(FormatErrorLine(data.errors[i]));
    std::stable_sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace ys
