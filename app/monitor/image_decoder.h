// Turns the monitor unit's memory image into the error, day and month tables of the user data.
// Each table in the image is a ring whose oldest entry need not come first.
#pragma once

#include <span>

#include "app/app_data.h"
#include "app/monitor/memory_image.h"

namespace ys::monitor {

// Index of the ring's oldest entry from the entries' date keys (year offset × 10000 + month × 100
// + day): the first key smaller than the one before it; 0 when an empty key (0) comes first or
// the keys never fall.
int FindRingStart(std::span<const int> keys);

// Replaces errors/errorCount, days/dayCount and months/monthCount with the image's entries,
// oldest first, skipping empty ones. Slots beyond the new counts keep what they held. Dates are
// made through the local-time conversion, which normalises out-of-range fields.
void DecodeMemoryImage(const MemoryImage& image, UserData& data);

}  // namespace ys::monitor
