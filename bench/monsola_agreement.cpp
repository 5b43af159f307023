// Prints how closely the engine's insolation on tilted planes agrees with independently modelled
// values for the sites of the shared reference data: relative deviation of the engine from the
// reference, median and worst, for the annual value and for each month.
//
// Usage: monsola_agreement [gencalc.ini] — data from $YS_SHARED_DATA or <source>/../shared/data.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/constants.h"
#include "engine/simulation_context.h"
#include "tests/engine/monsola_reference.h"

namespace {

using ys::gencalc::SimulationContext;
namespace monsola = ys::test::monsola;

struct Deviation {
    double value;  // (engine - reference) / reference
    std::string where;
};

struct Stats {
    std::vector<Deviation> items;

    void Add(double engine, double reference, std::string where) {
        if (reference <= 0) return;
        items.push_back({(engine - reference) / reference, std::move(where)});
    }
    void Print(const char* label) {
        if (items.empty()) return;
        std::vector<double> abs;
        std::vector<double> signedDev;
        for (const auto& d : items) {
            abs.push_back(std::fabs(d.value));
            signedDev.push_back(d.value);
        }
        auto median = [](std::vector<double> v) {
            std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
            return v[v.size() / 2];
        };
        auto p95 = [](std::vector<double> v) {
            auto k = static_cast<long>(v.size() * 95 / 100);
            std::nth_element(v.begin(), v.begin() + k, v.end());
            return v[static_cast<std::size_t>(k)];
        };
        const auto worst = std::max_element(items.begin(), items.end(), [](auto& a, auto& b) {
            return std::fabs(a.value) < std::fabs(b.value);
        });
        std::printf(
            "%-28s n=%6zu  median|d| %5.2f%%  bias %+6.2f%%  p95|d| %6.2f%%  worst %+7.2f%% (%s)\n",
            label, items.size(), 100 * median(abs), 100 * median(signedDev), 100 * p95(abs),
            100 * worst->value, worst->where.c_str());
    }
};

}  // namespace

int main(int argc, char** argv) {
    const std::string constantsPath =
        argc > 1 ? argv[1] : std::string(YS_BENCH_PROGRAM_DIR) + "/gencalc.ini";
    const std::string dataDir = monsola::DataDir(YS_BENCH_SOURCE_DIR);

    SimulationContext base;
    if (ys::gencalc::LoadConstants(base, constantsPath) != 0) {
        std::fprintf(stderr, "cannot load %s\n", constantsPath.c_str());
        return 1;
    }
    auto sites = monsola::ReadSites(dataDir + "/monsola11_sites_kwh.csv");
    auto tilted = monsola::ReadTilted(dataDir + "/monsola11_tilted_kwh.csv");
    if (!sites || !tilted) {
        std::fprintf(stderr, "%s\n", (!sites ? sites.error() : tilted.error()).c_str());
        return 1;
    }
    std::map<std::string, const monsola::Site*> byCode;
    for (const auto& s : *sites) byCode[s.code] = &s;

    Stats annualSouth30;
    Stats annualAll;
    std::vector<Stats> monthlySouth30(12);
    std::vector<Stats> monthlyAll(12);
    std::map<int, Stats> annualByTilt;
    std::map<int, Stats> annualByAzimuth;

    std::string currentCode;
    SimulationContext ctx;
    for (const auto& row : *tilted) {
        auto site = byCode.find(row.code);
        if (site == byCode.end()) continue;
        if (row.code != currentCode) {
            ctx = base;
            if (!monsola::PrepareSite(ctx, *site->second).ok()) {
                std::fprintf(stderr, "site %s: request refused\n", row.code.c_str());
                return 1;
            }
            currentCode = row.code;
        }
        const auto engine = monsola::EngineDaily(ctx, row.azimuthDeg, row.tiltDeg);
        const std::string where = site->second->name + " " + row.code + " az " +
                                  std::to_string(row.azimuthDeg) + " tilt " +
                                  std::to_string(row.tiltDeg);
        const double e = monsola::Annual(engine);
        const double r = monsola::Annual(row.daily);
        annualAll.Add(e, r, where);
        annualByTilt[row.tiltDeg].Add(e, r, where);
        annualByAzimuth[row.azimuthDeg].Add(e, r, where);
        const bool south30 = row.azimuthDeg == 0 && row.tiltDeg == 30;
        if (south30) annualSouth30.Add(e, r, where);
        for (int m = 0; m < 12; ++m) {
            const std::string whereMonth = where + " month " + std::to_string(m + 1);
            monthlyAll[m].Add(engine[m], row.daily[m], whereMonth);
            if (south30) monthlySouth30[m].Add(engine[m], row.daily[m], whereMonth);
        }
    }

    std::printf("Engine insolation on tilted planes against the reference, %zu sites\n",
                sites->size());
    std::printf("constants: %s\ndata: %s\n\n", constantsPath.c_str(), dataDir.c_str());
    annualSouth30.Print("annual, south 30 deg");
    annualAll.Print("annual, all planes");
    std::printf("\nannual by tilt (all azimuths):\n");
    for (auto& [tilt, s] : annualByTilt) s.Print(("  tilt " + std::to_string(tilt)).c_str());
    std::printf("\nannual by azimuth (all tilts):\n");
    for (auto& [az, s] : annualByAzimuth) s.Print(("  azimuth " + std::to_string(az)).c_str());
    std::printf("\nmonthly, south 30 deg:\n");
    for (int m = 0; m < 12; ++m)
        monthlySouth30[m].Print(("  month " + std::to_string(m + 1)).c_str());
    std::printf("\nmonthly, all planes:\n");
    for (int m = 0; m < 12; ++m) monthlyAll[m].Print(("  month " + std::to_string(m + 1)).c_str());
    return 0;
}
