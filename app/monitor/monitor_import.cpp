#include "app/monitor/monitor_import.h"

#include "app/monitor/image_decoder.h"

namespace ys::monitor {

std::string_view ReceiveMessage(LinkResult result) {
    return result == LinkResult::kSuccess ? kMsgReceiveDone : kMsgReceiveFailed;
}

LinkResult ReceiveMonitorImage(int portNo, MemoryImage& image, const LinkIo& io) {
    image.fill(0);
    return ReadMonitorImage(portNo, image, io);
}

ImportSummary ApplyMonitorImage(CYieldscopeApp& app, const MemoryImage& image,
                                const std::string& savePath) {
    ImportSummary summary;
    DecodeMemoryImage(image, app.data());
    summary.errorCount = app.errorCount;
    summary.dayCount = app.dayCount;
    summary.decodedMonths = app.monthCount;
    app.RebuildMonthTable();
    summary.monthCount = app.monthCount;
    summary.save = SaveUserData(app, savePath);
    return summary;
}

}  // namespace ys::monitor
