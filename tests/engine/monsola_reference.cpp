#include "tests/engine/monsola_reference.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "engine/profile_list.h"
#include "engine/request.h"
#include "engine/solar_model.h"
#include "platform/profile.h"

namespace ys::test::monsola {
namespace {

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ',')) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    return fields;
}

// The rows of a CSV file with a header line, as maps from column name to text.
Result<std::vector<std::map<std::string, std::string>>> ReadCsv(const std::string& path) {
    std::ifstream in(path);
    if (!in) return Error{"cannot open " + path};
    std::string line;
    if (!std::getline(in, line)) return Error{path + " is empty"};
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> header = SplitCsv(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::vector<std::string> fields = SplitCsv(line);
        if (fields.size() != header.size()) return Error{path + ": bad row: " + line};
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < header.size(); ++i) row[header[i]] = fields[i];
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string Month2(int m) {
    return (m < 9 ? "0" : "") + std::to_string(m + 1);
}

constexpr double kPi = 3.141592653589793;

}  // namespace

std::string DataDir(const std::string& fallbackSourceDir) {
    if (const char* v = std::getenv("YS_SHARED_DATA"); v && *v) return v;
    const char* env = std::getenv("YS_SOURCE_DIR");
    const std::string source = env && *env ? env : fallbackSourceDir;
    // A git worktree sits one folder deeper than the main checkout beside the shared folder.
    for (const char* up : {"/../shared/data", "/../../shared/data"}) {
        std::error_code ec;
        if (std::filesystem::is_directory(source + up, ec)) return source + up;
    }
    return source + "/../shared/data";
}

Result<std::vector<Site>> ReadSites(const std::string& path) {
    auto rows = ReadCsv(path);
    if (!rows) return Error{rows.error()};
    std::vector<Site> sites;
    for (auto& row : *rows) {
        Site s;
        s.code = row["site_code"];
        s.name = row["site_name"];
        s.latDeg = row["lat_deg"];
        s.latMin = row["lat_min"];
        s.lonDeg = row["lon_deg"];
        s.lonMin = row["lon_min"];
        for (int m = 0; m < 12; ++m) {
            s.global[m] = row["global_" + Month2(m)];
            s.diffuse[m] = row["diffuse_" + Month2(m)];
            s.snowPercent[m] = row["snow10cm_pct_" + Month2(m)];
        }
        sites.push_back(std::move(s));
    }
    return sites;
}

Result<std::vector<TiltedRow>> ReadTilted(const std::string& path) {
    auto rows = ReadCsv(path);
    if (!rows) return Error{rows.error()};
    std::vector<TiltedRow> out;
    out.reserve(rows->size());
    for (auto& row : *rows) {
        TiltedRow t;
        t.code = row["site_code"];
        t.azimuthDeg = std::atoi(row["azimuth_deg"].c_str());
        t.tiltDeg = std::atoi(row["tilt_deg"].c_str());
        for (int m = 0; m < 12; ++m)
            t.daily[m] = std::strtod(row["m" + Month2(m)].c_str(), nullptr);
        out.push_back(t);
    }
    return out;
}

Status PrepareSite(gencalc::SimulationContext& ctx, const Site& site) {
    std::string t = "[SYSTEM]\r\nPV_SYSTEM=KESTREL\r\n[PC]\r\nNUM=1\r\n0=QPC-310A,0.945\r\n";
    t += "[LINES]\r\nNUM=0\r\n[LOCATION]\r\n";
    t += "LATITUDE=" + site.latDeg + "," + site.latMin + "\r\n";
    t += "LONGITUDE=" + site.lonDeg + "," + site.lonMin + "\r\n";
    t += "SHADOW_LOSS=0,0,0,0,0,0,0,0,0,0,0,0\r\n[MONTHLY_AREA_DATA]\r\n";
    for (int m = 0; m < 12; ++m) {
        t += std::to_string(m + 1) + "M=" + site.global[m] + "," + site.diffuse[m] + "," +
             site.snowPercent[m] + "\r\n";
    }
    return gencalc::ReadRequest(ctx, profile::Document::Parse(t));
}

std::array<double, 12> EngineDaily(const gencalc::SimulationContext& ctx, double azimuthDeg,
                                   double tiltDeg) {
    // Angles pass through the request's single-precision fields, as a real line's would.
    auto radians = [](double deg) {
        return gencalc::ParseListReal(std::to_string(deg)) * kPi / 180;
    };
    const bool mirrored = azimuthDeg != 0 && azimuthDeg != 180;
    std::array<double, 12> daily{};
    for (double sign : {1.0, -1.0}) {
        if (sign < 0 && !mirrored) break;
        const gencalc::Surface surface{radians(tiltDeg), radians(sign * azimuthDeg)};
        for (int m = 0; m < 12; ++m) {
            daily[m] += gencalc::SumTiltedDaily(gencalc::PrepareMonth(ctx, m, surface)).tiltedDaily;
        }
    }
    if (mirrored) {
        for (double& d : daily) d /= 2;
    }
    return daily;
}

double Annual(const std::array<double, 12>& daily) {
    double sum = 0;
    for (int m = 0; m < 12; ++m) sum += daily[m] * kDaysInMonth[m];
    return sum;
}

}  // namespace ys::test::monsola
