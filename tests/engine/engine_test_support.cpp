#include "tests/engine/engine_test_support.h"

#include <gtest/gtest.h>

#include "engine/constants.h"
#include "tests/support/temp_dir.h"

namespace ys::test {

std::string DefaultConstantsPath() {
    return SourceDir() + "/resources/program/gencalc.ini";
}

gencalc::SimulationContext DefaultConstants() {
    gencalc::SimulationContext ctx;
    EXPECT_EQ(gencalc::LoadConstants(ctx, DefaultConstantsPath()), 0);
    return ctx;
}

std::string RequestText(const RequestFields& req) {
    std::string t;
    auto line = [&t](const std::string& s) { t += s + "\r\n"; };
    line("[SYSTEM]");
    line("PV_SYSTEM=" + req.system);
    line("PV_TOTAL_KW=4.500");
    line("[PC]");
    line("NUM=" + std::to_string(req.pcs.size()));
    for (std::size_t k = 0; k < req.pcs.size(); ++k) line(std::to_string(k) + "=" + req.pcs[k]);
    line("[LINES]");
    line("NUM=" + std::to_string(req.lines.size()));
    for (std::size_t j = 0; j < req.lines.size(); ++j) {
        const RequestLine& l = req.lines[j];
        line(std::to_string(j) + "=" + std::to_string(l.pc) + "," +
             static_cast<char>('A' + static_cast<int>(j % 26)) + "," + l.azimuth + "," + l.tilt +
             "," + l.watts + "," + std::to_string(l.booster));
    }
    line("[LOCATION]");
    line("LATITUDE=" + req.latitude);
    line("LONGITUDE=" + req.longitude);
    line("SHADOW_LOSS=" + req.shadowLoss);
    line("[MONTHLY_AREA_DATA]");
    for (std::size_t m = 0; m < req.monthly.size(); ++m) {
        line(std::to_string(m + 1) + "M=" + req.monthly[m]);
    }
    return t;
}

profile::Document RequestDocument(const RequestFields& req) {
    return profile::Document::Parse(RequestText(req));
}

}  // namespace ys::test
