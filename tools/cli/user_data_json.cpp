#include "tools/cli/user_data_json.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "app/local_time.h"
#include "app/user_data_file.h"
#include "platform/codepage.h"

namespace ys::cli {
namespace {

using nlohmann::ordered_json;

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

ordered_json TextToJson(const std::string& cp932) {
    auto utf8 = codepage::Cp932ToUtf8(cp932);
    if (utf8) {
        auto back = codepage::Utf8ToCp932(*utf8);
        if (back && *back == cp932) return *utf8;
    }
    // Bytes that do not survive the conversion both ways are kept as they are.
    return ordered_json{{"cp932_hex", Hex(cp932)}};
}

ordered_json DoubleToJson(double v) {
    if (std::isfinite(v)) return v;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx",
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)));
    return ordered_json{{"float64_hex", buf}};
}

ordered_json TimeToJson(std::int64_t t) {
    LocalDateTime l = ToLocal(t);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", l.year, l.month, l.day, l.hour,
                  l.minute, l.second);
    return ordered_json{{"seconds", t}, {"local", buf}};
}

template <class Array>
ordered_json ArrayToJson(const Array& a) {
    ordered_json j = ordered_json::array();
    for (auto v : a) j.push_back(v);
    return j;
}

ordered_json GenerationToJson(const CGenerationRecord& r, const std::uint8_t* flags) {
    ordered_json j;
    j["date"] = TimeToJson(r.date);
    j["generation"] = static_cast<std::uint16_t>(r.generation);
    j["extra"] = ArrayToJson(r.extra);
    ordered_json f = ordered_json::array();
    for (int i = 0; i < 5; ++i) f.push_back(flags[i]);
    j["flags"] = f;
    return j;
}

// ---- reading ----

// Builds the document and keeps the path of the value being read, so that a number the parser
// refuses (too big for a double, malformed) is reported with its key.
class PathTrackingParser {
public:
    using Dom = nlohmann::detail::json_sax_dom_parser<ordered_json>;

    explicit PathTrackingParser(ordered_json& root) : dom_(root, false) {}

    bool null() { return Value(dom_.null()); }
    bool boolean(bool v) { return Value(dom_.boolean(v)); }
    bool number_integer(ordered_json::number_integer_t v) { return Value(dom_.number_integer(v)); }
    bool number_unsigned(ordered_json::number_unsigned_t v) {
        return Value(dom_.number_unsigned(v));
    }
    bool number_float(ordered_json::number_float_t v, const std::string& s) {
        return Value(dom_.number_float(v, s));
    }
    bool string(std::string& v) { return Value(dom_.string(v)); }
    bool binary(ordered_json::binary_t& v) { return Value(dom_.binary(v)); }
    bool start_object(std::size_t n) {
        frames_.push_back({false, 0, {}});
        return dom_.start_object(n);
    }
    bool key(std::string& k) {
        frames_.back().key = k;
        return dom_.key(k);
    }
    bool end_object() {
        frames_.pop_back();
        return Value(dom_.end_object());
    }
    bool start_array(std::size_t n) {
        frames_.push_back({true, 0, {}});
        return dom_.start_array(n);
    }
    bool end_array() {
        frames_.pop_back();
        return Value(dom_.end_array());
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        const std::string where = Path();
        error_ = (where.empty() ? std::string("not valid JSON") : where) + ": " + e.what();
        return false;
    }

    const std::string& error() const { return error_; }

private:
    struct Frame {
        bool array;
        std::size_t index;
        std::string key;
    };

    bool Value(bool ok) {
        if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
        return ok;
    }
    std::string Path() const {
        std::string out;
        for (const Frame& f : frames_) {
            if (f.array) {
                out += "[" + std::to_string(f.index) + "]";
            } else if (!f.key.empty()) {
                out += (out.empty() ? "" : ".") + f.key;
            }
        }
        return out;
    }

    Dom dom_;
    std::vector<Frame> frames_;
    std::string error_;
};

// A whole decimal field of exactly `digits` digits.
std::optional<int> Digits(std::string_view text, std::size_t digits) {
    if (text.size() != digits) return std::nullopt;
    int v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || text.front() == '-' ||
        text.front() == '+') {
        return std::nullopt;
    }
    return v;
}

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS", a real calendar date and time, nothing after it.
std::optional<std::int64_t> ParseLocalStamp(std::string_view text) {
    if (text.size() != 10 && text.size() != 19) return std::nullopt;
    if (text[4] != '-' || text[7] != '-') return std::nullopt;
    auto y = Digits(text.substr(0, 4), 4), mo = Digits(text.substr(5, 2), 2),
         d = Digits(text.substr(8, 2), 2);
    std::optional<int> h = 0, mi = 0, sec = 0;
    if (text.size() == 19) {
        if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return std::nullopt;
        h = Digits(text.substr(11, 2), 2);
        mi = Digits(text.substr(14, 2), 2);
        sec = Digits(text.substr(17, 2), 2);
    }
    if (!y || !mo || !d || !h || !mi || !sec) return std::nullopt;
    if (*y < 1900 || *mo < 1 || *mo > 12 || *d < 1 || *h > 23 || *mi > 59 || *sec > 59) {
        return std::nullopt;
    }
    const std::int64_t t = MakeLocalTime(*y, *mo, *d, *h, *mi, *sec);
    // mktime moves the 31st of a 30-day month on; such a date does not exist.
    const LocalDateTime back = ToLocal(t);
    if (back.year != *y || back.month != *mo || back.day != *d || back.hour != *h ||
        back.minute != *mi || back.second != *sec) {
        return std::nullopt;
    }
    return t;
}

void CheckKeys(const ordered_json& obj, const std::string& where,
               std::initializer_list<const char*> allowed) {
    if (!obj.is_object()) throw JsonError(where + ": an object is expected");
    std::set<std::string> ok(allowed.begin(), allowed.end());
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        if (!ok.count(it.key())) throw JsonError(where + ": unknown key \"" + it.key() + "\"");
    }
}

long long ReadInt(const ordered_json& v, const std::string& where, long long lo, long long hi) {
    if (!v.is_number_integer()) throw JsonError(where + ": an integer is expected");
    auto outside = [&](const std::string& value) {
        return JsonError(where + ": " + value + " is outside " + std::to_string(lo) + " to " +
                         std::to_string(hi));
    };
    if (v.is_number_unsigned()) {
        unsigned long long u = v.get<unsigned long long>();
        if (u > static_cast<unsigned long long>(hi)) throw outside(std::to_string(u));
    }
    long long x = v.get<long long>();
    if (x < lo || x > hi) {
        throw JsonError(where + ": " + std::to_string(x) + " is outside " + std::to_string(lo) +
                        " to " + std::to_string(hi));
    }
    return x;
}

std::int32_t ReadInt32(const ordered_json& v, const std::string& where) {
    return static_cast<std::int32_t>(ReadInt(v, where, std::numeric_limits<std::int32_t>::min(),
                                             std::numeric_limits<std::int32_t>::max()));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string ReadHex(const std::string& hex, const std::string& where) {
    if (hex.size() % 2) throw JsonError(where + ": odd number of hex digits");
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) throw JsonError(where + ": not a hex digit");
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::string ReadText(const ordered_json& v, const std::string& where) {
    if (v.is_string()) {
        auto cp = codepage::Utf8ToCp932(v.get<std::string>());
        if (!cp) throw JsonError(where + ": " + cp.error());
        return *cp;
    }
    if (v.is_object()) {
        CheckKeys(v, where, {"cp932_hex"});
        if (v.contains("cp932_hex") && v["cp932_hex"].is_string()) {
            return ReadHex(v["cp932_hex"].get<std::string>(), where);
        }
    }
    throw JsonError(where + ": a text is expected");
}

double ReadDouble(const ordered_json& v, const std::string& where) {
    if (v.is_number()) return v.get<double>();
    if (v.is_object()) {
        CheckKeys(v, where, {"float64_hex"});
        if (v.contains("float64_hex") && v["float64_hex"].is_string()) {
            std::string bytes = ReadHex(v["float64_hex"].get<std::string>(), where);
            if (bytes.size() != 8) throw JsonError(where + ": 16 hex digits are expected");
            std::uint64_t bits = 0;
            for (unsigned char c : bytes) bits = (bits << 8) | c;
            return std::bit_cast<double>(bits);
        }
    }
    throw JsonError(where + ": a number is expected");
}

std::int64_t ReadTime(const ordered_json& v, const std::string& where) {
    if (v.is_number_integer()) {
        return ReadInt(v, where, std::numeric_limits<std::int64_t>::min(),
                       std::numeric_limits<std::int64_t>::max());
    }
    CheckKeys(v, where, {"seconds", "local"});
    if (v.contains("seconds")) {
        return ReadInt(v["seconds"], where + ".seconds", std::numeric_limits<std::int64_t>::min(),
                       std::numeric_limits<std::int64_t>::max());
    }
    if (v.contains("local") && v["local"].is_string()) {
        const std::string text = v["local"].get<std::string>();
        auto t = ParseLocalStamp(text);
        if (!t) {
            throw JsonError(where + ".local: \"" + text +
                            "\" is not a date \"YYYY-MM-DD[ HH:MM:SS]\" (1900-9999)");
        }
        return *t;
    }
    throw JsonError(where + ": \"seconds\" or \"local\" is expected");
}

template <class T, std::size_t N, class F>
void ReadArray(const ordered_json& obj, const char* key, const std::string& where,
               std::array<T, N>& out, F readOne) {
    if (!obj.contains(key)) return;
    const ordered_json& a = obj[key];
    const std::string w = where + "." + key;
    if (!a.is_array()) throw JsonError(w + ": an array is expected");
    if (a.size() > N) throw JsonError(w + ": at most " + std::to_string(N) + " entries");
    for (std::size_t i = 0; i < a.size(); ++i) {
        out[i] = readOne(a[i], w + "[" + std::to_string(i) + "]");
    }
}

void ReadGeneration(const ordered_json& j, const std::string& where, CGenerationRecord& r,
                    std::uint8_t* flags) {
    CheckKeys(j, where, {"date", "generation", "extra", "flags"});
    if (j.contains("date")) r.date = ReadTime(j["date"], where + ".date");
    if (j.contains("generation")) {
        r.generation = static_cast<std::int16_t>(static_cast<std::uint16_t>(
            ReadInt(j["generation"], where + ".generation", -32768, 65535)));
    }
    ReadArray(j, "extra", where, r.extra, [](const ordered_json& v, const std::string& w) {
        return static_cast<std::int16_t>(ReadInt(v, w, -32768, 32767));
    });
    if (j.contains("flags")) {
        const ordered_json& a = j["flags"];
        if (!a.is_array() || a.size() > 5) throw JsonError(where + ".flags: at most 5 bytes");
        for (std::size_t i = 0; i < a.size(); ++i) {
            flags[i] = static_cast<std::uint8_t>(
                ReadInt(a[i], where + ".flags[" + std::to_string(i) + "]", 0, 255));
        }
    }
}

template <class Table, class F>
void ReadTable(const ordered_json& root, const char* key, Table& table, F readOne) {
    if (!root.contains(key)) return;
    const ordered_json& a = root[key];
    if (!a.is_array()) throw JsonError(std::string(key) + ": an array is expected");
    if (a.size() > table.size()) {
        throw JsonError(std::string(key) + ": at most " + std::to_string(table.size()) + " slots");
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        readOne(a[i], std::string(key) + "[" + std::to_string(i) + "]", table[i]);
    }
}

void ReadUserInfo(const ordered_json& j, CUserInfo& u) {
    const std::string w = "userInfo";
    CheckKeys(j, w, {"name",         "address",    "phone",        "email",         "regionNo",
                     "regionName",   "dealerName", "dealerTel",    "installYear",   "installMonth",
                     "capacityKw",   "detailed",   "pcCode",       "pcProduct",     "pcModel",
                     "pcEfficiency", "azimuth",    "tilt",         "booster",       "moduleWatt",
                     "moduleCount",  "surfaceKw",  "monitorModel", "monitorImport", "shadeLevel",
                     "shadeText",    "shadeLoss"});
    auto text = [&](const char* k, std::string& out) {
        if (j.contains(k)) out = ReadText(j[k], w + "." + k);
    };
    auto int32 = [&](const char* k, std::int32_t& out) {
        if (j.contains(k)) out = ReadInt32(j[k], w + "." + k);
    };
    auto dbl = [&](const char* k, double& out) {
        if (j.contains(k)) out = ReadDouble(j[k], w + "." + k);
    };
    auto ints = [](const ordered_json& v, const std::string& where) { return ReadInt32(v, where); };
    text("name", u.name);
    text("address", u.address);
    text("phone", u.phone);
    text("email", u.email);
    int32("regionNo", u.regionNo);
    text("regionName", u.regionName);
    text("dealerName", u.dealerName);
    text("dealerTel", u.dealerTel);
    int32("installYear", u.installYear);
    int32("installMonth", u.installMonth);
    dbl("capacityKw", u.capacityKw);
    int32("detailed", u.detailed);
    text("pcCode", u.pcCode);
    text("pcProduct", u.pcProduct);
    text("pcModel", u.pcModel);
    dbl("pcEfficiency", u.pcEfficiency);
    ReadArray(j, "azimuth", w, u.azimuth, ReadDouble);
    ReadArray(j, "tilt", w, u.tilt, ints);
    ReadArray(j, "booster", w, u.booster, ints);
    ReadArray(j, "moduleWatt", w, u.moduleWatt, ints);
    ReadArray(j, "moduleCount", w, u.moduleCount, ints);
    ReadArray(j, "surfaceKw", w, u.surfaceKw, ReadDouble);
    text("monitorModel", u.monitorModel);
    int32("monitorImport", u.monitorImport);
    int32("shadeLevel", u.shadeLevel);
    text("shadeText", u.shadeText);
    text("shadeLoss", u.shadeLoss);
}

}  // namespace

std::string UserDataToJson(const UserData& d, std::int32_t marker) {
    const CUserInfo& u = d.userInfo;
    ordered_json ui;
    ui["name"] = TextToJson(u.name);
    ui["address"] = TextToJson(u.address);
    ui["phone"] = TextToJson(u.phone);
    ui["email"] = TextToJson(u.email);
    ui["regionNo"] = u.regionNo;
    ui["regionName"] = TextToJson(u.regionName);
    ui["dealerName"] = TextToJson(u.dealerName);
    ui["dealerTel"] = TextToJson(u.dealerTel);
    ui["installYear"] = u.installYear;
    ui["installMonth"] = u.installMonth;
    ui["capacityKw"] = DoubleToJson(u.capacityKw);
    ui["detailed"] = u.detailed;
    ui["pcCode"] = TextToJson(u.pcCode);
    ui["pcProduct"] = TextToJson(u.pcProduct);
    ui["pcModel"] = TextToJson(u.pcModel);
    ui["pcEfficiency"] = DoubleToJson(u.pcEfficiency);
    ordered_json az = ordered_json::array(), kw = ordered_json::array();
    for (double v : u.azimuth) az.push_back(DoubleToJson(v));
    for (double v : u.surfaceKw) kw.push_back(DoubleToJson(v));
    ui["azimuth"] = az;
    ui["tilt"] = ArrayToJson(u.tilt);
    ui["booster"] = ArrayToJson(u.booster);
    ui["moduleWatt"] = ArrayToJson(u.moduleWatt);
    ui["moduleCount"] = ArrayToJson(u.moduleCount);
    ui["surfaceKw"] = kw;
    ui["monitorModel"] = TextToJson(u.monitorModel);
    ui["monitorImport"] = u.monitorImport;
    ui["shadeLevel"] = u.shadeLevel;
    ui["shadeText"] = TextToJson(u.shadeText);
    ui["shadeLoss"] = TextToJson(u.shadeLoss);

    ordered_json root;
    root["marker"] = marker;
    root["userInfo"] = ui;
    root["simDone"] = d.simDone;
    root["simMonthly"] = ArrayToJson(d.simMonthly);
    root["errorCount"] = d.errorCount;
    ordered_json errors = ordered_json::array();
    for (const auto& e : d.errors) {
        errors.push_back({{"kind", e.kind}, {"code", e.code}, {"time", TimeToJson(e.time)}});
    }
    root["errors"] = errors;
    root["dayCount"] = d.dayCount;
    ordered_json days = ordered_json::array();
    for (const auto& e : d.days) days.push_back(GenerationToJson(e, e.flags.data()));
    root["days"] = days;
    root["monthCount"] = d.monthCount;
    ordered_json months = ordered_json::array();
    for (const auto& e : d.months) months.push_back(GenerationToJson(e, e.flags.data()));
    root["months"] = months;
    return root.dump(2) + "\n";
}

Result<ParsedUserData> UserDataFromJson(std::string_view text) {
    ordered_json root;
    PathTrackingParser sax(root);
    if (!ordered_json::sax_parse(text, &sax)) {
        return Error{sax.error().empty() ? std::string("not valid JSON") : sax.error()};
    }
    ParsedUserData out;
    try {
        CheckKeys(root, "the file",
                  {"marker", "userInfo", "simDone", "simMonthly", "errorCount", "errors",
                   "dayCount", "days", "monthCount", "months"});
        UserData& d = out.data;
        if (root.contains("marker")) out.marker = ReadInt32(root["marker"], "marker");
        if (root.contains("userInfo")) ReadUserInfo(root["userInfo"], d.userInfo);
        if (root.contains("simDone")) d.simDone = ReadInt32(root["simDone"], "simDone");
        ReadArray(root, "simMonthly", "", d.simMonthly,
                  [](const ordered_json& v, const std::string& w) { return ReadInt32(v, w); });
        if (root.contains("errorCount")) {
            d.errorCount =
                static_cast<std::int32_t>(ReadInt(root["errorCount"], "errorCount", 0, kMaxErrors));
        }
        if (root.contains("dayCount")) {
            d.dayCount =
                static_cast<std::int32_t>(ReadInt(root["dayCount"], "dayCount", 0, kMaxDays));
        }
        if (root.contains("monthCount")) {
            d.monthCount =
                static_cast<std::int32_t>(ReadInt(root["monthCount"], "monthCount", 0, kMaxMonths));
        }
        ReadTable(
            root, "errors", d.errors,
            [](const ordered_json& j, const std::string& w, CErrorData& e) {
                CheckKeys(j, w, {"kind", "code", "time"});
                if (j.contains("kind"))
                    e.kind = static_cast<std::uint8_t>(ReadInt(j["kind"], w + ".kind", 0, 255));
                if (j.contains("code"))
                    e.code = static_cast<std::uint8_t>(ReadInt(j["code"], w + ".code", 0, 255));
                if (j.contains("time")) e.time = ReadTime(j["time"], w + ".time");
            });
        ReadTable(root, "days", d.days,
                  [](const ordered_json& j, const std::string& w, CDateResult& e) {
                      ReadGeneration(j, w, e, e.flags.data());
                  });
        ReadTable(root, "months", d.months,
                  [](const ordered_json& j, const std::string& w, CMonthResult& e) {
                      ReadGeneration(j, w, e, e.flags.data());
                  });
    } catch (const JsonError& e) {
        return Error{e.what()};
    } catch (const nlohmann::json::exception& e) {
        return Error{e.what()};
    }
    // The same limits as the loader's: a file this command writes is one the program loads.
    if (auto problem = CheckUserData(out.data)) {
        return Error{problem->key + ": the value is outside the range the program uses"};
    }
    return out;
}

}  // namespace ys::cli
