// The automatic import of the monitor unit's history: receive the memory image, then replace the
// error, day and month tables with its content, fit the month table to the installation period
// and save. Shared by the data entry page and the command line; shows nothing itself.
#pragma once

#include <string>
#include <string_view>

#include "app/app_data.h"
#include "app/monitor/monitor_link.h"
#include "app/user_data_file.h"

namespace ys::monitor {

inline constexpr std::string_view kMsgReceiveDone = "発電データの受信を完了しました。";
inline constexpr std::string_view kMsgReceiveFailed = "発電データを受信できませんでした。";

// The message after a transfer with this result.
std::string_view ReceiveMessage(LinkResult result);

// Clears `image` and reads it from the unit on port n. The user data is not touched.
LinkResult ReceiveMonitorImage(int portNo, MemoryImage& image, const LinkIo& io = DefaultLinkIo());

struct ImportSummary {
    int errorCount = 0;     // error events decoded
    int dayCount = 0;       // days decoded
    int decodedMonths = 0;  // months decoded, before fitting to the installation period
    int monthCount = 0;     // months in the table after fitting
    FileResult save;        // the save of the user data file
};

// Replaces the three tables with the image's content (whatever they held, also with an empty
// image), rebuilds the month table for today and saves to `savePath` (empty: the default file).
// A failed save leaves the imported data in memory.
ImportSummary ApplyMonitorImage(CYieldscopeApp& app, const MemoryImage& image,
                                const std::string& savePath = {});

}  // namespace ys::monitor
