// The monitor unit's history from the application's records, for the image encoder of the unit's
// protocol (tests and benchmarks lay the user data into an image this way).
#pragma once

#include "app/local_time.h"
#include "app/monitor/memory_image.h"
#include "app/records.h"
#include "devices/monitor_unit/image_encoder.h"

namespace ys::monitor {

using monitor_unit::EncodeMemoryImage;
using monitor_unit::ErrorEntry;
using monitor_unit::GenerationEntry;
using monitor_unit::MonitorHistory;
using monitor_unit::Ring;
using monitor_unit::RingStartAfter;

// Entries from the records' local times.
ErrorEntry MakeErrorEntry(const CErrorData& error);
GenerationEntry MakeGenerationEntry(const CDateResult& day);
GenerationEntry MakeGenerationEntry(const CMonthResult& month);

}  // namespace ys::monitor
