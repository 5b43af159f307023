// A made-up but plausible history for a demo monitor unit: daily generation with the seasons and
// the weather of a Japanese site, monthly sums, and now and then an error of the power
// conditioner, laid into the unit's rings as if it had run since its installation.
#pragma once

#include "devices/monitor_unit/history.h"

namespace ys::monitor_unit {

struct DemoSite {
    double capacityKw = 4.5;
    int installYear = 2020;  // 1996 or later
    int installMonth = 4;
    // The day the unit is read out; its history ends the day (and the month) before.
    int todayYear = 2024;
    int todayMonth = 6;
    int todayDay = 1;
};

// The same site and day always give the same history.
MonitorHistory GenerateDemoHistory(const DemoSite& site);

}  // namespace ys::monitor_unit
