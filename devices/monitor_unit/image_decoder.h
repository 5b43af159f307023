// Reads the error, day and month tables out of the monitor unit's memory image. Each table in
// the image is a ring whose oldest entry need not come first.
#pragma once

#include <span>
#include <vector>

#include "devices/monitor_unit/history.h"
#include "devices/monitor_unit/memory_image.h"

namespace ys::monitor_unit {

// Index of the ring's oldest entry from the entries' date keys (year offset × 10000 + month × 100
// + day): the first key smaller than the one before it; 0 when an empty key (0) comes first or
// the keys never fall.
int FindRingStart(std::span<const int> keys);

// The tables' entries, each from its ring's oldest entry on, empty ones (year offset 0) left out.
// Day and month entries carry all six flag bytes as stored.
struct DecodedImage {
    std::vector<ErrorEntry> errors;
    std::vector<GenerationEntry> days;
    std::vector<GenerationEntry> months;
};
DecodedImage DecodeImage(const MemoryImage& image);

}  // namespace ys::monitor_unit
