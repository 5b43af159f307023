// Lays a history of error events, days and months into a memory image as the monitor unit
// writes it (the inverse of the decoder): for the simulator, tests and benchmarks.
#pragma once

#include "devices/monitor_unit/history.h"
#include "devices/monitor_unit/memory_image.h"
#include "platform/result.h"

namespace ys::monitor_unit {

// The image of `history`; everything outside the three tables is zero. Fails when a table has
// more entries than slots, a start outside the table, or a date the entry cannot hold.
Result<MemoryImage> EncodeMemoryImage(const MonitorHistory& history);

}  // namespace ys::monitor_unit
