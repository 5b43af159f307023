#include "app/user_data_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/local_time.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace ys {
namespace {

void SerializeAll(CArchive& ar, UserData& d) {
    std::int32_t marker = 1;
    ar.Int32(marker);
    d.userInfo.Serialize(ar);
    ar.Int32(d.simDone);
    for (auto& v : d.simMonthly) ar.Int32(v);
    ar.Int32(d.errorCount);
    for (auto& e : d.errors) e.Serialize(ar);
    ar.Int32(d.dayCount);
    for (auto& e : d.days) e.Serialize(ar);
    ar.Int32(d.monthCount);
    for (auto& e : d.months) e.Serialize(ar);
}

constexpr int kMaxModuleNumber = 99999;  // the module boxes take five digits

// Collects the first value outside its range, in file order.
class RangeCheck {
public:
    void Int(std::int64_t v, std::int64_t lo, std::int64_t hi, std::string key, std::string label) {
        if (!problem_ && (v < lo || v > hi))
            problem_ = RangeProblem{std::move(key), std::move(label)};
    }
    void Real(double v, double lo, double hi, std::string key, std::string label) {
        if (!problem_ && !(std::isfinite(v) && v >= lo && v <= hi)) {
            problem_ = RangeProblem{std::move(key), std::move(label)};
        }
    }
    void Text(const std::string& v, std::string key, std::string label) {
        Int(static_cast<std::int64_t>(v.size()), 0, static_cast<std::int64_t>(kMaxStoredTextBytes),
            std::move(key), std::move(label));
    }
    std::optional<RangeProblem> result() const { return problem_; }

private:
    std::optional<RangeProblem> problem_;
};

std::string Indexed(const char* table, std::size_t i, const char* field) {
    return std::string(table) + "[" + std::to_string(i) + "]." + field;
}

std::string Nth(const char* tableLabel, std::size_t i, const char* fieldLabel) {
    return std::string(tableLabel) + " " + std::to_string(i + 1) + " 件目の" + fieldLabel;
}

// Wording for the user; the technical detail goes to standard error.
void DescribeArchiveError(const ArchiveError& e, FileResult& r) {
    const std::string at = std::to_string(e.offset());
    r.detail = e.kind() == ArchiveError::Kind::kEndOfFile
                   ? FormatMessage("ファイルが %1 バイト目で途中で終わっています", {at})
                   : FormatMessage("%1 バイト目の文字列が壊れています", {at});
    r.technical = e.what();
}

FileResult Outcome(FileOutcome outcome, std::string path, std::string detail = {},
                   std::string technical = {}) {
    FileResult r;
    r.outcome = outcome;
    r.path = std::move(path);
    r.detail = std::move(detail);
    r.technical = std::move(technical);
    return r;
}

// The system's reason in the user's language.
std::string SystemReason(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
            return "ディスクの空き容量が足りません";
        case EACCES:
        case EPERM:
            return "アクセスが拒否されました";
        case EROFS:
            return "読み取り専用の場所です";
        case ENOENT:
        case ENOTDIR:
            return "フォルダーがありません";
        case EIO:
            return "入出力エラーが発生しました";
        default:
            return FormatMessage("システムエラー %1", {std::to_string(err)});
    }
}

std::string LocalStamp(std::int64_t now) {
    const LocalDateTime t = ToLocal(now);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

}  // namespace

std::string FormatMessage(std::string_view text, std::initializer_list<std::string_view> args) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            std::size_t n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string FileResult::UserMessage() const {
    switch (outcome) {
        case FileOutcome::kOk:
            return {};
        case FileOutcome::kCannotOpen:
            return std::string(kMsgCannotOpen);
        case FileOutcome::kWriteError:
            return FormatMessage(kMsgWriteFailed, {path, detail});
        case FileOutcome::kCorrupt:
            if (!keptAs.empty()) return FormatMessage(kMsgCorruptKeptAside, {path, detail, keptAs});
            if (notKept) return FormatMessage(kMsgCorruptNotKept, {path, detail});
            return FormatMessage(kMsgCorruptFile, {path, detail});
    }
    return {};
}

std::string SerializeUserData(const UserData& data) {
    CArchive ar;
    UserData copy = data;  // Serialize is symmetric and takes its fields by reference
    SerializeAll(ar, copy);
    return ar.buffer();
}

std::optional<RangeProblem> CheckUserData(const UserData& d) {
    RangeCheck c;
    const CUserInfo& u = d.userInfo;
    const std::pair<const std::string*, const char*> texts[] = {{&u.name, "name"},
                                                                {&u.address, "address"},
                                                                {&u.phone, "phone"},
                                                                {&u.email, "email"},
                                                                {&u.regionName, "regionName"},
                                                                {&u.dealerName, "dealerName"},
                                                                {&u.dealerTel, "dealerTel"},
                                                                {&u.pcCode, "pcCode"},
                                                                {&u.pcProduct, "pcProduct"},
                                                                {&u.pcModel, "pcModel"},
                                                                {&u.monitorModel, "monitorModel"},
                                                                {&u.shadeText, "shadeText"},
                                                                {&u.shadeLoss, "shadeLoss"}};
    for (const auto& [text, key] : texts) {
        c.Text(*text, std::string("userInfo.") + key, "文字列の長さ");
    }
    c.Int(u.installYear, kMinInstallYear, kMaxInstallYear, "userInfo.installYear", "設置年");
    c.Int(u.installMonth, 1, 12, "userInfo.installMonth", "設置月");
    c.Real(u.capacityKw, 0.0, 99.99 + 1e-9, "userInfo.capacityKw", "設置容量");
    c.Int(u.detailed, 0, 1, "userInfo.detailed", "設置情報の入力");
    c.Real(u.pcEfficiency, 0.0, 10.0, "userInfo.pcEfficiency", "変換効率");
    for (std::size_t t = 0; t < u.moduleWatt.size(); ++t) {
        c.Int(u.moduleWatt[t], 0, kMaxModuleNumber, Indexed("userInfo", t, "moduleWatt"),
              "モジュール出力");
    }
    for (std::size_t i = 0; i < u.moduleCount.size(); ++i) {
        c.Int(u.moduleCount[i], 0, kMaxModuleNumber, Indexed("userInfo", i, "moduleCount"),
              "モジュール枚数");
    }
    for (std::size_t s = 0; s < kSurfaceCount; ++s) {
        c.Real(u.azimuth[s], -180.0, 180.0, Indexed("userInfo", s, "azimuth"), "方位角");
        c.Int(u.tilt[s], 0, 90, Indexed("userInfo", s, "tilt"), "傾斜角");
        c.Int(u.booster[s], 0, 1, Indexed("userInfo", s, "booster"), "昇圧ユニット");
        // Three columns of the largest outputs and counts the boxes take.
        c.Real(u.surfaceKw[s], 0.0, 3.0 * kMaxModuleNumber * kMaxModuleNumber / 1000.0,
               Indexed("userInfo", s, "surfaceKw"), "設置面の容量");
    }
    c.Int(u.monitorImport, 0, 1, "userInfo.monitorImport", "データ取込の可否");
    c.Int(d.simDone, 0, 1, "simDone", "シミュレーション済み");
    for (std::size_t m = 0; m < d.simMonthly.size(); ++m) {
        // Sums of twelve months must stay far inside 32 bits.
        c.Int(d.simMonthly[m], -kMaxSimulatedMonth, kMaxSimulatedMonth,
              "simMonthly[" + std::to_string(m) + "]", "シミュレーション結果");
    }
    c.Int(d.errorCount, 0, kMaxErrors, "errorCount", "エラーデータの件数");
    // Names are made only for a slot that fails: the tables are checked on every load.
    auto timeOk = [](std::int64_t t) { return t >= kMinStoredTime && t <= kMaxStoredTime; };
    for (std::size_t i = 0; i < d.errors.size(); ++i) {
        if (timeOk(d.errors[i].time)) continue;
        c.Int(d.errors[i].time, kMinStoredTime, kMaxStoredTime, Indexed("errors", i, "time"),
              Nth("エラーデータ", i, "日時").c_str());
    }
    c.Int(d.dayCount, 0, kMaxDays, "dayCount", "日別データの件数");
    for (std::size_t i = 0; i < d.days.size(); ++i) {
        if (timeOk(d.days[i].date)) continue;
        c.Int(d.days[i].date, kMinStoredTime, kMaxStoredTime, Indexed("days", i, "date"),
              Nth("日別データ", i, "日付"));
    }
    c.Int(d.monthCount, 0, kMaxMonths, "monthCount", "月別データの件数");
    for (std::size_t i = 0; i < d.months.size(); ++i) {
        if (timeOk(d.months[i].date)) continue;
        c.Int(d.months[i].date, kMinStoredTime, kMaxStoredTime, Indexed("months", i, "date"),
              Nth("月別データ", i, "日付"));
    }
    return c.result();
}

FileResult DeserializeUserData(std::string_view bytes, UserData& data) {
    UserData loaded = data;
    CArchive ar(bytes);
    FileResult r;
    try {
        SerializeAll(ar, loaded);
    } catch (const ArchiveError& e) {
        r.outcome = FileOutcome::kCorrupt;
        DescribeArchiveError(e, r);
        return r;
    }
    if (auto problem = CheckUserData(loaded)) {
        r.outcome = FileOutcome::kCorrupt;
        r.detail = FormatMessage("%1の値が範囲外です", {problem->label});
        r.technical = problem->key + " is outside the range the program uses";
        return r;
    }
    data = loaded;
    return r;
}

std::string ResolveUserDataPath(const CYieldscopeApp& app, const std::string& path) {
    return path.empty() ? paths::Join(app.dataDir, std::string(kDefaultUserDataFile)) : path;
}

FileResult SaveUserData(const CYieldscopeApp& app, const std::string& path) {
    const std::string target = ResolveUserDataPath(app, path);
    if (app.defaultFileProtected && target == ResolveUserDataPath(app, {})) {
        return Outcome(FileOutcome::kWriteError, target, std::string(kMsgDefaultFileProtected),
                       "the default file holds a refused file that could not be kept aside");
    }
    files::WriteOutcome w = files::WriteFileAtomically(target, SerializeUserData(app.data()), 0600);
    switch (w.failure) {
        case files::WriteFailure::kNone:
            return Outcome(FileOutcome::kOk, target, {});
        case files::WriteFailure::kCannotCreate:
            return Outcome(FileOutcome::kCannotOpen, target, SystemReason(w.error), w.message);
        case files::WriteFailure::kWriteError:
            return Outcome(FileOutcome::kWriteError, target, SystemReason(w.error), w.message);
    }
    return Outcome(FileOutcome::kWriteError, target, SystemReason(w.error), w.message);
}

FileResult LoadUserData(CYieldscopeApp& app, const std::string& path) {
    const std::string source = ResolveUserDataPath(app, path);
    files::ReadOutcome in = files::ReadRegularFile(source, kMaxUserDataFileBytes);
    FileResult r = Outcome(FileOutcome::kCorrupt, source);
    switch (in.failure) {
        case files::ReadFailure::kNone:
            r = DeserializeUserData(in.bytes, app.data());
            r.path = source;
            return r;
        case files::ReadFailure::kCannotOpen:
            return Outcome(FileOutcome::kCannotOpen, source, in.message, in.message);
        case files::ReadFailure::kNotRegular:
            r.detail = "通常のファイルではありません";
            r.technical = "not a regular file";
            return r;
        case files::ReadFailure::kTooLarge:
            r.detail =
                FormatMessage("ファイルが大きすぎます（%1 バイト、上限 %2 バイト）",
                              {std::to_string(in.size), std::to_string(kMaxUserDataFileBytes)});
            r.technical = "file of " + std::to_string(in.size) + " bytes is larger than " +
                          std::to_string(kMaxUserDataFileBytes);
            return r;
        case files::ReadFailure::kReadError:
            r.detail = "ファイルを読み込めません";
            r.technical = in.message;
            return r;
    }
    return r;
}

Result<std::string> KeepRefusedFileAside(const std::string& path, std::int64_t now) {
    const std::string base = path + ".damaged-" + LocalStamp(now);
    for (int n = 1; n < 100; ++n) {
        const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        // A hard link never replaces an existing name; the rename keeps its bytes in place.
        if (::link(path.c_str(), name.c_str()) == 0) {
            if (::unlink(path.c_str()) == 0) return name;
            const int err = errno;
            ::unlink(name.c_str());
            return Error{std::strerror(err)};
        }
        if (errno == EEXIST) continue;
        // Where hard links are not possible, rename to a name that is free now.
        struct stat st {};
        if (::lstat(name.c_str(), &st) == 0) continue;
        if (::rename(path.c_str(), name.c_str()) == 0) return name;
        return Error{std::strerror(errno)};
    }
    return Error{std::strerror(EEXIST)};
}

FileResult LoadDefaultUserDataAtStart(CYieldscopeApp& app) {
    FileResult r = LoadUserData(app, {});
    if (r.outcome != FileOutcome::kCorrupt) return r;
    auto kept = KeepRefusedFileAside(r.path, app.Now());
    if (kept) {
        r.keptAs = *kept;
    } else {
        r.notKept = true;
        app.defaultFileProtected = true;
        r.technical += "; not kept aside: " + kept.error();
    }
    return r;
}

}  // namespace ys
