// The command-line options that describe a simulated monitor unit (its memory image or demo
// history and its fault), shared by the simulator and the driver host's simulated device.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/monitor_unit/demo_history.h"
#include "devices/monitor_unit/unit_model.h"
#include "platform/result.h"

namespace ys::monitor_unit {

struct UnitOptions {
    std::string imageFile;
    bool demo = false;
    DemoSite site;
    FaultConfig fault;
};

// Sets the demo history's "today" (it ends the day before) from `now` in local time.
void SetToday(DemoSite& site, std::time_t now);

enum class UnitOption { kNotOne, kTaken, kBad };

// Takes `option` if it is one of --demo, --image FILE, --capacity KW, --install YYYY-MM,
// --today YYYY-MM-DD and --fault MODE; `value` hands out the option's argument (none when the
// command line ends). kBad leaves a message in `error`.
UnitOption ParseUnitOption(std::string_view option,
                           const std::function<std::optional<std::string_view>()>& value,
                           UnitOptions& options, std::string& error);

// The image to serve: the demo history encoded, or the file, which must hold a whole image.
Result<std::vector<std::uint8_t>> LoadUnitImage(const UnitOptions& options);

// "YYYY-MM" (day null) or "YYYY-MM-DD" into its numbers.
bool ParseDate(std::string_view text, int& year, int& month, int* day);

}  // namespace ys::monitor_unit
