// The monitor unit's memory image, as the application names it; defined with the unit's protocol.
#pragma once

#include "devices/monitor_unit/memory_image.h"

namespace ys::monitor {

using monitor_unit::kBaseYear;
using monitor_unit::kBlockCount;
using monitor_unit::kBlockDataSize;
using monitor_unit::kDayTable;
using monitor_unit::kErrorTable;
using monitor_unit::kImageSize;
using monitor_unit::kMonthTable;
using monitor_unit::MemoryImage;
using monitor_unit::PackDate;
using monitor_unit::PackedDate;
using monitor_unit::TableLayout;
using monitor_unit::UnpackDate;

}  // namespace ys::monitor
