// What the engine tests share: the default constants and request files written to order.
#pragma once

#include <string>
#include <vector>

#include "engine/simulation_context.h"
#include "platform/profile.h"

namespace ys::test {

// The committed default constants file.
std::string DefaultConstantsPath();
// A context with the default constants loaded; fails the test when they do not load.
gencalc::SimulationContext DefaultConstants();

struct RequestLine {
    int pc = 0;
    std::string azimuth = "0.0";
    std::string tilt = "30";
    std::string watts = "4500";
    int booster = 0;
};

// The fields of a request file; each text is written as the GUI would.
struct RequestFields {
    std::string system = "KESTREL";
    std::vector<std::string> pcs = {"QPC-310A,0.945"};
    std::vector<RequestLine> lines = {RequestLine{}};
    std::string latitude = "35,41.2";
    std::string longitude = "139,45.6";
    std::string shadowLoss = "0,0,0,0,0,0,0,0,0,0,0,0";
    // Tokyo's monthly global, diffuse and snow values.
    std::vector<std::string> monthly = {"2.43,0.95,3", "2.96,1.27,3", "3.40,1.74,0", "3.97,2.09,0",
                                        "4.33,2.37,0", "3.57,2.23,0", "4.04,2.31,0", "4.20,2.22,0",
                                        "3.19,1.79,0", "2.71,1.44,0", "2.39,1.05,0", "2.22,0.89,0"};
};

// The request file text (CRLF), as the GUI writes it.
std::string RequestText(const RequestFields& req);
profile::Document RequestDocument(const RequestFields& req);

}  // namespace ys::test
