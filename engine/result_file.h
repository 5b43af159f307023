// The result file "pc_out.ini": expected generation per month and per clock hour, and whether
// each power conditioner's lines face different directions.
#pragma once

#include <string>

#include "engine/simulation_context.h"
#include "platform/profile.h"
#include "platform/result.h"

namespace ys::gencalc {

// "%.2f" of a value, whatever the process locale.
std::string FormatHourly(double kwh);

// The result file's content, sections and keys in the order the GUI has always found them.
ys::profile::Document BuildResultDocument(const SimulationContext& ctx);

// Deletes the old result file (a missing one is fine) and writes the new one through a temporary
// file renamed into place.
Status WriteResult(const SimulationContext& ctx, const std::string& path);

}  // namespace ys::gencalc
