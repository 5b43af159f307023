// Turns the monitor unit's memory image into the error, day and month tables of the user data.
// Each table in the image is a ring whose oldest entry need not come first.
#pragma once

#include <span>

#include "app/app_data.h"
#include "app/monitor/memory_image.h"
#include "devices/monitor_unit/image_decoder.h"

namespace ys::monitor {

using monitor_unit::FindRingStart;

// Replaces errors/errorCount, days/dayCount and months/monthCount with the image's entries,
// oldest first, skipping empty ones. Slots beyond the new counts keep what they held. Dates are
// made through the local-time conversion, which normalises out-of-range fields.
void DecodeMemoryImage(const MemoryImage& image, UserData& data);

}  // namespace ys::monitor
